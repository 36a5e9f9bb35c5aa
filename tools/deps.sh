#!/bin/sh
# Installs the Debian packages regmex needs that are not installed yet.
# Usage: deps.sh [demo|test|macos]
#   demo  (the default) building the plug-ins and running the demo: compiler,
#         CMake, OpenCV's development files, Octave, gnuplot and fonts for the
#         demo's figures
#   test  also what the tests, benchmarks, fuzzers and the Windows build
#         need: GoogleTest, Google Benchmark, OpenCV's video module (the
#         registration benchmark compares with its optical flow), clang with
#         its sanitizer runtimes, MinGW-w64, wine, zip, and what fetches
#         and unpacks the Debian sources the cross builds compile; and the
#         macOS build's
#   macos the macOS build: Debian's Mach-O linker (ld64.lld) and readers
#         (llvm-otool, llvm-nm), npm, zip, the Debian-source tools, and Zig
#         0.11 from npm, outside the tree (tools/zig.sh)
set -e
demo="g++ make cmake pkg-config libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
octave octave-dev gnuplot-nox fonts-freefont-otf"
test="libgtest-dev libbenchmark-dev libopencv-video-dev clang libclang-rt-14-dev libasan8 libubsan1 libtsan2
g++-mingw-w64-x86-64-posix wine64 zip curl dpkg-dev xz-utils bzip2"
# npm from Debian, unless one is there already (a Node.js of its own).
macos="lld-14 llvm-14 zip curl dpkg-dev xz-utils bzip2"
command -v npm >/dev/null || macos="$macos npm"
case ${1:-demo} in
  demo) packages=$demo ;;
  test) packages="$demo $test $macos" zig=1 ;;
  macos) packages="$demo $macos" zig=1 ;;
  *) echo "deps.sh: unknown set '$1' (demo, test or macos)" >&2; exit 2 ;;
esac
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
[ -z "${zig:-}" ] || sh "$(dirname "$0")/zig.sh" >/dev/null
