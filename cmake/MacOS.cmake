# The macOS build of the plug-ins (macos/), cross-compiled with Zig once
# per architecture into build/macos/x86_64 (<plugin>.mexmaci64) and
# build/macos/aarch64 (<plugin>.mexmaca64) as external projects, and checked
# by tests/macos.  Zig 0.11 comes from npm (tools/zig.sh, into
# $REGMEX_CACHE or ~/.cache/regmex); Debian's lld-14 links, llvm-14 reads
# the files.  `make deps-test` installs them all.  REGMEX_MACOS
# (cmake/Optional.cmake) decides whether it is built.
# REGMEX_MACOS_OPENCV would add the plug-ins that need OpenCV, against
# OpenCV cross-built for each architecture by tools/cross_opencv.sh; it does
# not build yet: for a macOS target OpenCV's imgcodecs compiles Objective-C++
# sources that need Apple's Accelerate and AppKit frameworks, which neither
# Zig nor Debian carries, and it would link AppKit.  OFF by default, and
# `make macos` leaves it OFF.
option(REGMEX_MACOS_OPENCV "macOS build: also the plug-ins that need OpenCV (does not build yet: OpenCV's imgcodecs needs Apple's frameworks)" OFF)
regmex_wanted(wanted REGMEX_MACOS "macOS build")
if(NOT wanted)
  return()
endif()

if(DEFINED ENV{REGMEX_CACHE})
  set(cache $ENV{REGMEX_CACHE})
else()
  set(cache $ENV{HOME}/.cache/regmex)
endif()
find_program(REGMEX_ZIG_CXX zig-c++ PATHS ${cache}/zig-0.11.0/bin NO_DEFAULT_PATH)
find_program(REGMEX_LD64 NAMES ld64.lld ld64.lld-14)
set(REGMEX_LLVM_TOOLS)
foreach(tool llvm-objdump llvm-nm llvm-otool)
  find_program(REGMEX_${tool} NAMES ${tool} ${tool}-14)
  if(NOT REGMEX_${tool})
    set(REGMEX_LLVM_TOOLS NOTFOUND)
  endif()
endforeach()
set(missing)
if(NOT REGMEX_ZIG_CXX)
  list(APPEND missing "Zig 0.11 (${cache}/zig-0.11.0)")
endif()
if(NOT REGMEX_LD64)
  list(APPEND missing "ld64.lld")
endif()
if(NOT REGMEX_llvm-objdump OR NOT REGMEX_llvm-nm OR NOT REGMEX_llvm-otool)
  list(APPEND missing "LLVM's Mach-O tools (llvm-otool)")
endif()
regmex_missing(found missing ${missing})
regmex_decide(REGMEX_MACOS "macOS build" found "${missing}")
if(NOT REGMEX_MACOS)
  return()
endif()
get_filename_component(REGMEX_LLVM_TOOLS ${REGMEX_llvm-otool} DIRECTORY)

set(REGMEX_MACOS_DIR ${CMAKE_BINARY_DIR}/macos)
if(REGMEX_MACOS_OPENCV)
  regmex_find_plugins(macos_plugins ${CMAKE_SOURCE_DIR})
else()
  regmex_find_windows_plugins(macos_plugins ${CMAKE_SOURCE_DIR})
endif()
include(ExternalProject)
set(REGMEX_MACOS_FILES)
set(macos_targets)
foreach(arch x86_64 aarch64)
  if(arch STREQUAL "x86_64")
    set(suffix mexmaci64)
  else()
    set(suffix mexmaca64)
  endif()
  set(products)
  foreach(plugin IN LISTS macos_plugins)
    list(APPEND products ${REGMEX_MACOS_DIR}/${arch}/${plugin}.${suffix})
  endforeach()
  list(APPEND REGMEX_MACOS_FILES ${products})
  set(opencv_prefix "")
  set(opencv_target)
  if(REGMEX_MACOS_OPENCV)
    # x86-64: Debian's amd64 baseline, as the Linux build's OpenCV.
    set(baseline)
    if(arch STREQUAL "x86_64")
      set(baseline -DCPU_BASELINE=SSE2 -DCPU_BASELINE_DISABLE=SSE3)
    endif()
    set(opencv_prefix ${cache}/opencv-4.6.0-macos-${arch})
    add_custom_target(regmex_macos_opencv_${arch}
      COMMAND sh ${CMAKE_SOURCE_DIR}/tools/cross_opencv.sh ${CMAKE_SOURCE_DIR}/macos/Toolchain-${arch}.cmake macos-${arch} ${baseline}
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      COMMENT "OpenCV for ${arch} macOS (built once, cached in ${opencv_prefix})"
      VERBATIM)
    set(opencv_target DEPENDS regmex_macos_opencv_${arch})
  endif()
  ExternalProject_Add(regmex_macos_${arch}
    ${opencv_target}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/macos
    BINARY_DIR ${REGMEX_MACOS_DIR}/${arch}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/macos/Toolchain-${arch}.cmake -DCMAKE_BUILD_TYPE=Release
               -DREGMEX_MACOS_OPENCV=${opencv_prefix}
    # The sources live outside macos/: let its own build decide what is stale.
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${products} ${REGMEX_MACOS_DIR}/${arch}/second_export.${suffix} ${REGMEX_MACOS_DIR}/${arch}/unsigned.${suffix})
  list(APPEND macos_targets regmex_macos_${arch})
endforeach()
add_custom_target(regmex_macos DEPENDS ${macos_targets})
