#!/bin/sh
# Builds the Octave package, installs it into a temporary package prefix,
# loads it in a fresh Octave, calls each plug-in and its help, and
# uninstalls it.  Usage: roundtrip.sh <source folder>
set -e
src=$(cd "${1:-.}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$src"
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
octave_run "pkg load regmex; roundtrip_check();"
octave_run "pkg uninstall regmex; assert (isempty (pkg ('list', 'regmex')));"
test -z "$(find "$work/prefix" "$work/archprefix" -name '*.mex' 2>/dev/null)" || { echo "uninstall left MEX files"; exit 1; }
echo "package round trip passed"
