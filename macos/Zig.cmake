# Cross-compiling for macOS with Zig's clang, which carries macOS's headers,
# its libc++ and a stub of libSystem (tools/zig.sh installs it outside the
# tree).  Included by Toolchain-<arch>.cmake, which sets REGMEX_MACOS_ARCH
# (x86_64 or aarch64).  Zig 0.11's own linker makes no bundle and exports
# every symbol of the C++ runtime, so the MEX files are linked by Debian's
# ld64.lld (macos/CMakeLists.txt); archives and executables (CMake's
# compiler checks, OpenCV's own build) are left to Zig.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${REGMEX_MACOS_ARCH})
# macOS 11, the first on Apple silicon, for both: the oldest whose
# libSystem stub Zig 0.11 carries.
set(REGMEX_MACOS_MIN 11.0)
set(REGMEX_MACOS_TARGET ${REGMEX_MACOS_ARCH}-macos.${REGMEX_MACOS_MIN})

if(DEFINED ENV{REGMEX_CACHE})
  set(regmex_cache $ENV{REGMEX_CACHE})
else()
  set(regmex_cache $ENV{HOME}/.cache/regmex)
endif()
set(REGMEX_ZIG_BIN ${regmex_cache}/zig-0.11.0/bin)
if(NOT EXISTS ${REGMEX_ZIG_BIN}/zig-c++)
  message(FATAL_ERROR "Zig 0.11 not found in ${REGMEX_ZIG_BIN} (sh tools/zig.sh installs it)")
endif()
set(CMAKE_C_COMPILER ${REGMEX_ZIG_BIN}/zig-cc)
set(CMAKE_CXX_COMPILER ${REGMEX_ZIG_BIN}/zig-c++)
set(CMAKE_C_COMPILER_TARGET ${REGMEX_MACOS_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${REGMEX_MACOS_TARGET})
# Assembler sources (libpng's for ARM) go through zig cc too.
set(CMAKE_ASM_COMPILER ${REGMEX_ZIG_BIN}/zig-cc)
set(CMAKE_ASM_COMPILER_TARGET ${REGMEX_MACOS_TARGET})
set(CMAKE_AR ${REGMEX_ZIG_BIN}/zig-ar CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${REGMEX_ZIG_BIN}/zig-ranlib CACHE FILEPATH "ranlib")
# CMake's and OpenCV's checks compile without linking: Zig would build its
# C++ runtime anew for every set of flags a test program is linked with.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# No SDK: Zig supplies what one would.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "")
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
