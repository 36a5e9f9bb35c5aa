#!/bin/sh
# Runs one Octave test script against the MEX files in a folder.
# Usage: run.sh <mex-folder> <script-name>
# The script fails by raising an error; the exit status is what counts
# (Octave 7.3 may print a harmless message about an execution_exception
# while it exits).
mexdir=$1
script=$2
here=$(cd "$(dirname "$0")" && pwd)
cd "$here" || exit 2
exec octave-cli --norc --quiet --no-history --no-window-system --eval "
addpath('$mexdir'); addpath('$here');
status = regmex_run_test('$script');
exit(status);"
