#!/bin/sh
# The printf-style check of mexargs' fail, failArg and refuse survives a
# printf macro, as MATLAB's mex.h defines one (printf -> mexPrintf): well
# formed calls compile cleanly, and a wrong-type call to each is an error;
# with MinGW-w64 too, whose plain printf format knows no %zu.
# Usage: FormatCheck.sh <C++ compiler> <source folder>
set -u
cxx=$1
root=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
compile() {
  "$cxx" -std=c++11 -fsyntax-only -Wall -Wextra -Werror -Werror=format -Dprintf=mexPrintf \
    -I"$root/bridge" -I"$root/host/include" "$@" "$work/calls.cpp" >"$work/log" 2>&1
}
cat >"$work/calls.cpp" <<'CALLS'
#include "MexArgs.h"

void calls(const mexargs::Arg& arg, const mxArray* a) {
    (void)arg;
    (void)a;
#if defined(WRONG_FAIL)
    mexargs::fail("demo:x", "%d elements", "three");
#elif defined(WRONG_FAILARG)
    mexargs::failArg(arg, " must hold %s", 3);
#elif defined(WRONG_REFUSE)
    mexargs::refuse(arg, a, " must be %d by %d", 2.5, 3);
#else
    if (!a) mexargs::fail("demo:x", "%d elements", 3);
    if (mxIsEmpty(a)) mexargs::failArg(arg, " must hold %s", "three");
    mexargs::refuse(arg, a, " must be %d by %d", 2, 3);
    mexargs::failArg(arg, ": element %zu of %zu", static_cast<size_t>(1), sizeof arg);
#endif
}
CALLS
if ! compile; then
  echo "well-formed calls do not compile cleanly with printf defined as a macro:"
  cat "$work/log"
  status=1
fi
for call in WRONG_FAIL WRONG_FAILARG WRONG_REFUSE; do
  if compile -D$call; then
    echo "$call: a wrong-type argument compiled without a format error"
    status=1
  elif ! grep -q "calls.cpp:[0-9]*:[0-9]*: error: format" "$work/log"; then
    echo "$call: refused, but not by the format check:"
    cat "$work/log"
    status=1
  fi
done
exit $status
