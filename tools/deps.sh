#!/bin/sh
# Installs the Debian packages regmex needs that are not installed yet.
# Usage: deps.sh [demo|test]
#   demo  (the default) building the plug-ins and running the demo: compiler,
#         CMake, OpenCV's development files, Octave, gnuplot and fonts for the
#         demo's figures
#   test  also what the tests, benchmarks, fuzzers and the Windows build
#         need: GoogleTest, Google Benchmark, OpenCV's video module (the
#         registration benchmark compares with its optical flow), clang with
#         its sanitizer runtimes, MinGW-w64, wine, zip, and what fetches
#         and unpacks the Debian sources the cross builds compile
set -e
demo="g++ make cmake pkg-config libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
octave octave-dev gnuplot-nox fonts-freefont-otf"
test="libgtest-dev libbenchmark-dev libopencv-video-dev clang libclang-rt-14-dev libasan8 libubsan1 libtsan2
g++-mingw-w64-x86-64-posix wine64 zip curl dpkg-dev xz-utils bzip2"
case ${1:-demo} in
  demo) packages=$demo ;;
  test) packages="$demo $test" ;;
  *) echo "deps.sh: unknown set '$1' (demo or test)" >&2; exit 2 ;;
esac
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
