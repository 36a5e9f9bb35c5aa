#!/bin/sh
# Checks the dynamic dependencies of built plug-ins against their build
# descriptions.  Usage: LinkedLibraries.sh <source folder> <file>...
# with files named <plugin>.mex (Octave) or lib<plugin>.so (embedded host).
# For each file:
#   - every NEEDED entry is a library its <plugin>/Sources.txt names, the
#     embedded host, or the C/C++ runtime (or a sanitizer's);
#   - only gridcorners reaches the image-file library (opencv_imgcodecs,
#     which drags in some 140 libraries), directly or through another;
#   - a plug-in whose description names no OpenCV library (driftfield)
#     reaches none at all;
#   - none reaches OpenCV's video module (optical flow);
#   - every dependency resolves (ldd finds no missing library).
set -u
root=$1
shift
[ $# -gt 0 ] || { echo "LinkedLibraries.sh: no files given"; exit 2; }
status=0
bad() { echo "$file: $*"; status=1; }
for file in "$@"; do
  [ -f "$file" ] || { bad "missing"; continue; }
  base=$(basename "$file")
  case $base in
    *.mex) plugin=${base%.mex} ;;
    lib*.so) plugin=${base#lib}; plugin=${plugin%.so} ;;
    *) bad "neither <plugin>.mex nor lib<plugin>.so"; continue ;;
  esac
  description=$root/$plugin/Sources.txt
  [ -f "$description" ] || { bad "no $description"; continue; }
  libs=$(sed -n 's/^libs://p' "$description")
  # A plug-in that calls no library may need none, but it is a dynamic object.
  dynamic=$(readelf -d "$file" 2>&1)
  echo "$dynamic" | grep -q '^Dynamic section' || bad "readelf found no dynamic section"
  needed=$(echo "$dynamic" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  resolved=$(ldd "$file") || bad "ldd failed"
  for lib in $needed; do
    name=${lib%%.so*}
    name=${name#lib}
    case " $(echo $libs) " in *" $name "*) continue ;; esac
    case $name in
      regmex_host|stdc++|m|gcc_s|c|pthread|dl|asan|ubsan|tsan) ;;
      ld-linux*) ;;
      *) bad "NEEDED $lib, which $description does not name" ;;
    esac
  done
  if echo "$resolved" | grep -q 'not found'; then
    bad "unresolved: $(echo "$resolved" | grep 'not found' | tr -s ' \t\n' ' ')"
  fi
  cv=$(echo "$resolved" $needed | tr ' \t' '\n\n' | grep -o '^libopencv_[a-z0-9_]*' | sort -u | tr '\n' ' ')
  case " $(echo $libs)" in
    *" opencv_"*) ;;
    *) [ -z "$cv" ] || bad "$plugin reaches OpenCV: $cv" ;;
  esac
  case $plugin in
    gridcorners) ;;
    *) case " $cv" in *" libopencv_imgcodecs "*) bad "reaches the image-file library" ;; esac ;;
  esac
  # The registration's plug-in needs no optical flow, no video module.
  case " $cv" in *" libopencv_video "*) bad "reaches OpenCV's video module" ;; esac
  case $plugin in
    gridcorners) ;;
    *) case " $(echo $libs) " in *" opencv_imgcodecs "*) bad "$description names opencv_imgcodecs" ;; esac ;;
  esac
  echo "$file: $(echo $needed | wc -w) NEEDED, $(echo "$resolved" | wc -l) in ldd; OpenCV: ${cv:-none}"
done
exit $status
