#!/bin/sh
# Installs the Debian packages regmex needs that are not installed yet.
set -e
packages="g++ make cmake pkg-config libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-video-dev
octave octave-dev libgtest-dev libbenchmark-dev clang libclang-rt-14-dev libasan8 libubsan1 libtsan2
gnuplot-nox fonts-freefont-otf g++-mingw-w64-x86-64-posix wine64 zip"
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
