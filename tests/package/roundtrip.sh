#!/bin/sh
# Builds the Octave package from a plain copy of the tree (no version
# control, no build folders), installs it into a temporary package prefix,
# checks the libraries each installed MEX file links, loads it in a fresh
# Octave, calls each plug-in and its help, and uninstalls it.
# Usage: roundtrip.sh <source folder>
set -e
src=$(cd "${1:-.}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tree"
tar -C "$src" --exclude=./.git --exclude='./build*' --exclude=./out -cf - . | tar -C "$work/tree" -xf -
cd "$work/tree"
tarball=$(sh tools/dist.sh | tail -n 1)
cp "$tarball" "$work/"
cp tests/package/roundtrip_check.m "$work/"
cd "$work"
octave_run() {
  octave-cli --norc --quiet --no-history --no-window-system --eval "
    pkg prefix '$work/prefix' '$work/archprefix';
    pkg local_list '$work/octave_packages';
    $1"
}
octave_run "pkg install $(basename "$tarball");" > install.log 2>&1 || { cat install.log; exit 1; }
installed=$(find "$work/archprefix" -name '*.mex' | sort)
[ "$(echo $installed | wc -w)" -eq 5 ] || { echo "installed MEX files: $installed"; exit 1; }
sh "$src/tests/cmake/LinkedLibraries.sh" "$work/tree" $installed
octave_run "pkg load regmex; roundtrip_check();"
octave_run "pkg uninstall regmex; assert (isempty (pkg ('list', 'regmex')));"
test -z "$(find "$work/prefix" "$work/archprefix" -name '*.mex' 2>/dev/null)" || { echo "uninstall left MEX files"; exit 1; }
echo "package round trip passed"
