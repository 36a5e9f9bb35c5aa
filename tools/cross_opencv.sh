#!/bin/sh
# Cross-builds OpenCV's core, imgproc and imgcodecs as static libraries, with
# the zlib, libpng and libjpeg-turbo they read PNG and JPEG files through,
# all from Debian's source packages (tools/debian_source.sh), for the target
# a CMake toolchain file describes.  Built once per machine and toolchain
# into
#   $REGMEX_CACHE/opencv-<version>-<name>   (REGMEX_CACHE: ~/.cache/regmex)
# which it prints; OpenCVConfig.cmake there is what a build finds.  A
# changed script, toolchain file or argument builds it again.
# Usage: cross_opencv.sh <toolchain file> <name> [cmake argument...]
#   the cmake arguments go to OpenCV's configure: for x86-64 targets,
#   Debian's own amd64 baseline, so that the same dispatch paths run as in
#   the Linux build: -DCPU_BASELINE=SSE2 -DCPU_BASELINE_DISABLE=SSE3
set -e

[ $# -ge 2 ] || { echo "usage: cross_opencv.sh <toolchain file> <name> [cmake argument...]" >&2; exit 2; }
toolchain=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
name=$2
shift 2
[ -f "$toolchain" ] || { echo "cross_opencv.sh: no toolchain file $toolchain" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)

cache=${REGMEX_CACHE:-$HOME/.cache/regmex}
prefix=$cache/opencv-4.6.0-$name
work=$cache/build/opencv-4.6.0-$name
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
mkdir -p "$cache"

# What the libraries are built from (the pinned sources too): a change to
# any of it rebuilds them.
recipe=$( (cat "$0" "$here/debian_source.sh" "$toolchain"; echo "$@") | sha256sum | cut -c1-64)

# One build per name at a time (make test runs ctest jobs side by side).
exec 9>"$cache/opencv-4.6.0-$name.lock"
flock 9
if [ -f "$prefix/.recipe" ] && [ "$(cat "$prefix/.recipe")" = "$recipe" ]; then
  echo "$prefix"
  exit 0
fi

started=$(date +%s)
zlib=$(sh "$here/debian_source.sh" zlib)
png=$(sh "$here/debian_source.sh" libpng1.6)
jpeg=$(sh "$here/debian_source.sh" libjpeg-turbo)
opencv=$(sh "$here/debian_source.sh" opencv)

rm -rf "$prefix" "$work"
mkdir -p "$work" "$prefix"

common="-DCMAKE_TOOLCHAIN_FILE=$toolchain -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX=$prefix -DCMAKE_INSTALL_LIBDIR=lib
  -DCMAKE_POSITION_INDEPENDENT_CODE=ON"

# build <folder> <source> <cmake argument...>: configure, build, install,
# quietly unless it fails.
build() {
  what=$1
  src=$2
  shift 2
  echo "cross_opencv.sh: $name: building $what" >&2
  if ! { cmake -S "$src" -B "$work/$what" $common "$@" &&
         cmake --build "$work/$what" -j "$jobs" &&
         cmake --install "$work/$what"; } >"$work/$what.log" 2>&1; then
    tail -40 "$work/$what.log" >&2
    echo "cross_opencv.sh: $name: $what failed; log in $work/$what.log" >&2
    exit 1
  fi
}

# zlib's own build makes a shared library too, which needs files Debian
# leaves out of its source (win32/): only the static one is built, and
# copied in by hand as zlib's install would.  Its configure also renames a
# header in the source folder, so it runs on a copy: the cache stays as
# unpacked.
echo "cross_opencv.sh: $name: building zlib" >&2
cp -r "$zlib" "$work/zlib-src"
# Except for MinGW, zlib's configure names win32/zlib1.rc as a source of the
# shared library: an empty one lets it configure (that library is not built).
if [ ! -e "$work/zlib-src/win32/zlib1.rc" ]; then
  mkdir -p "$work/zlib-src/win32"
  : >"$work/zlib-src/win32/zlib1.rc"
fi
if ! { cmake -S "$work/zlib-src" -B "$work/zlib" $common &&
       cmake --build "$work/zlib" --target zlibstatic -j "$jobs"; } >"$work/zlib.log" 2>&1; then
  tail -40 "$work/zlib.log" >&2
  echo "cross_opencv.sh: $name: zlib failed; log in $work/zlib.log" >&2
  exit 1
fi
mkdir -p "$prefix/lib" "$prefix/include"
zlib_lib=$prefix/lib/libz.a
cp "$(ls "$work"/zlib/libzlibstatic.a "$work"/zlib/libz.a 2>/dev/null | head -1)" "$zlib_lib"
cp "$work/zlib-src/zlib.h" "$work/zlib/zconf.h" "$prefix/include/"
zlib_args="-DZLIB_LIBRARY=$zlib_lib -DZLIB_INCLUDE_DIR=$prefix/include"

build png "$png" $zlib_args -DPNG_SHARED=OFF -DPNG_STATIC=ON \
  -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF
png_lib=$prefix/lib/libpng16.a

build jpeg "$jpeg" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
  -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF -DWITH_JAVA=OFF -DCMAKE_INSTALL_LIBDIR="$prefix/lib"
jpeg_lib=$prefix/lib/libjpeg.a
for lib in "$png_lib" "$jpeg_lib"; do
  [ -f "$lib" ] || { echo "cross_opencv.sh: $name: $lib was not made" >&2; exit 1; }
done

# Only what the plug-ins use: no other image format, no parallel back end
# beyond the platform's threads, nothing fetched from the network.  -O2
# as Debian builds it.
build opencv "$opencv" \
  -DBUILD_LIST=core,imgproc,imgcodecs -DBUILD_SHARED_LIBS=OFF \
  -DCMAKE_C_FLAGS_RELEASE=-O2 -DCMAKE_CXX_FLAGS_RELEASE=-O2 \
  -DBUILD_TESTS=OFF -DBUILD_PERF_TESTS=OFF -DBUILD_EXAMPLES=OFF \
  -DBUILD_opencv_apps=OFF -DBUILD_DOCS=OFF -DBUILD_JAVA=OFF \
  -DBUILD_opencv_python2=OFF -DBUILD_opencv_python3=OFF \
  -DBUILD_ZLIB=OFF -DBUILD_PNG=OFF -DBUILD_JPEG=OFF -DBUILD_TIFF=OFF \
  -DBUILD_WEBP=OFF -DBUILD_OPENJPEG=OFF -DBUILD_JASPER=OFF \
  -DBUILD_OPENEXR=OFF -DBUILD_ITT=OFF -DBUILD_IPP_IW=OFF \
  $zlib_args -DPNG_LIBRARY=$png_lib -DPNG_PNG_INCLUDE_DIR=$prefix/include \
  -DJPEG_LIBRARY=$jpeg_lib -DJPEG_INCLUDE_DIR=$prefix/include \
  -DWITH_PNG=ON -DWITH_JPEG=ON -DWITH_TIFF=OFF -DWITH_WEBP=OFF \
  -DWITH_OPENJPEG=OFF -DWITH_JASPER=OFF -DWITH_OPENEXR=OFF \
  -DWITH_IPP=OFF -DWITH_ITT=OFF -DWITH_OPENCL=OFF -DWITH_CUDA=OFF \
  -DWITH_EIGEN=OFF -DWITH_LAPACK=OFF -DWITH_TBB=OFF -DWITH_OPENMP=OFF \
  -DWITH_CAROTENE=OFF -DWITH_PROTOBUF=OFF -DWITH_ADE=OFF -DWITH_QUIRC=OFF \
  -DWITH_FFMPEG=OFF -DWITH_GSTREAMER=OFF -DWITH_GTK=OFF -DWITH_QT=OFF \
  -DWITH_VTK=OFF -DWITH_1394=OFF -DWITH_V4L=OFF -DWITH_DSHOW=OFF \
  -DWITH_MSMF=OFF -DWITH_WIN32UI=OFF -DWITH_OPENGL=OFF -DWITH_VA=OFF \
  -DWITH_GDAL=OFF -DWITH_GDCM=OFF -DWITH_GPHOTO2=OFF -DWITH_OBSENSOR=OFF \
  -DWITH_AVFOUNDATION=OFF -DWITH_CAP_IOS=OFF \
  -DENABLE_PRECOMPILED_HEADERS=OFF -DOPENCV_GENERATE_PKGCONFIG=OFF \
  -DOPENCV_DOWNLOAD_TRIES_LIST= -DBUILD_INFO_SKIP_TIMESTAMP=ON \
  "$@"

rm -rf "$work"
echo "$recipe" >"$prefix/.recipe"
echo "cross_opencv.sh: $name: built in $(( $(date +%s) - started )) s" >&2
echo "$prefix"
