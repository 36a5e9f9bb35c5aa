#!/bin/sh
# Every reader of Sources.txt accepts and refuses the same descriptions, and
# a refusal names the description: CMake's (cmake/Plugin.cmake, in script
# mode), octave/build_mex.m (with -n: commands printed, none run), the
# package's Makefile in the tree, tools/dist.sh, and the Makefile again in
# the package dist.sh made.  Each case is a tree holding one plug-in, toy.
# Usage: SourcesReaders.sh <source folder>
set -u
root=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
status=0
nl='
'

cat > "$work/read.cmake" <<END
cmake_minimum_required(VERSION 3.16)
include($root/cmake/Plugin.cmake)
set(REGMEX_SOURCE_ROOT $tree)
regmex_find_plugins(plugins $tree)
foreach(plugin IN LISTS plugins)
  regmex_read_sources(\${plugin})
endforeach()
END

# A tree with what dist.sh and build_mex need, and toy's files.
fresh_tree() {
  rm -rf "$tree"
  mkdir -p "$tree/toy" "$tree/bridge" "$tree/tools" "$tree/data" "$tree/octave/package" "$tree/octave/functions"
  cp "$root/VERSION" "$root/COPYING" "$tree/"
  cp "$root/tools/dist.sh" "$tree/tools/"
  cp "$root/octave/build_mex.m" "$root/octave/regmex_demo.m" "$tree/octave/"
  cp "$root"/octave/package/* "$tree/octave/package/"
  cp "$root"/octave/functions/*.m "$tree/octave/functions/"
  cp "$root/data/camera.png" "$tree/data/"
  for f in toy/ToyMex.cpp toy/Stage.cpp toy/Toy.h bridge/Shared.cpp; do : > "$tree/$f"; done
  echo "% TOY  toy:nargin" > "$tree/toy/toy.m"
}

# The readers, each printing ok or refused, with its output in
# $work/<reader>.log.
readers="cmake build_mex make dist"
run() {
  case $1 in
    cmake) cmake -P "$work/read.cmake" ;;
    build_mex) octave-cli --norc --quiet --no-history --no-window-system \
                 --eval "addpath ('$tree/octave'); build_mex ('-n', 'outdir', '$work/out')" ;;
    make) make -n -C "$tree" -f octave/package/Makefile ;;
    dist) sh "$tree/tools/dist.sh" && make -n -C "$(echo "$tree"/build/dist/regmex-*/src)" ;;
  esac
}

# Each case: what every reader must do, its name, and the description
# ("-" for none).
check() {
  expect=$1 name=$2 text=$3
  fresh_tree
  failed=$status
  if [ "$text" != "-" ]; then printf '%s\n' "$text" > "$tree/toy/Sources.txt"; fi
  for reader in $readers; do
    if run $reader > "$work/$reader.log" 2>&1; then got=accepts; else got=refuses; fi
    if [ "$got" != "$expect" ]; then
      echo "FAIL $name: $reader $got, expected $expect:"; sed 's/^/    /' "$work/$reader.log" | tail -n 15
      status=1
    elif [ "$got" = refuses ] && ! grep -q "toy/Sources.txt" "$work/$reader.log"; then
      echo "FAIL $name: $reader refuses without naming toy/Sources.txt:"; sed 's/^/    /' "$work/$reader.log" | tail -n 15
      status=1
    fi
  done
  [ $status -ne $failed ] || echo "ok $name: every reader $expect"
}

check accepts "one shell file" "shell: ToyMex.cpp"
check accepts "every key, comments, blank lines, tabs, a key again" "# toy${nl}  # indented comment${nl}${nl}   ${nl}shell:ToyMex.cpp${nl}core:	Stage.cpp${nl}bridge: Shared.cpp${nl}libs: pthread${nl}libs: m"
check refuses "no description" "-"
check refuses "an unknown key" "shell: ToyMex.cpp${nl}source: Stage.cpp"
check refuses "a key in capitals" "shell: ToyMex.cpp${nl}Core: Stage.cpp"
check refuses "a key after blanks" "shell: ToyMex.cpp${nl}  core: Stage.cpp"
check refuses "a line of words without a key" "shell: ToyMex.cpp${nl}Stage.cpp"
check refuses "an empty shell" "shell:${nl}core: Stage.cpp"
check refuses "no shell line" "core: Stage.cpp"
check refuses "a missing shell file" "shell: ToyMex.cpp Gone.cpp"
check refuses "a missing core file" "shell: ToyMex.cpp${nl}core: Gone.cpp"
check refuses "a missing bridge file" "shell: ToyMex.cpp${nl}bridge: Gone.cpp"
check refuses "a comment after a word" "shell: ToyMex.cpp # the entry file"
exit $status
