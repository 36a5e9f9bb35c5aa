# The Windows build of the plug-ins (windows/), cross-compiled with
# MinGW-w64 into build/windows as an external project, and tested under wine
# (tests/windows).  Debian's g++-mingw-w64-x86-64-posix and wine64 provide
# the tools; `make deps-test` installs them.
# REGMEX_WINDOWS (cmake/Optional.cmake) decides whether it is built.
# REGMEX_WINDOWS_OPENCV (ON by default) builds the plug-ins that link OpenCV
# too, against a static OpenCV that tools/cross_opencv.sh cross-builds from
# Debian's sources on the first build (curl and dpkg-source fetch and
# unpack them), or the one REGMEX_WINDOWS_OPENCV_PREFIX names.
regmex_wanted(wanted REGMEX_WINDOWS "Windows build")
if(NOT wanted)
  return()
endif()

set(REGMEX_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)
option(REGMEX_WINDOWS_OPENCV "Windows build: the plug-ins that link OpenCV too" ON)
set(REGMEX_WINDOWS_OPENCV_PREFIX "" CACHE PATH "Windows build: a static MinGW-w64 OpenCV to use instead of cross-building one")
find_program(REGMEX_MINGW_CXX x86_64-w64-mingw32-g++-posix)
find_program(REGMEX_MINGW_OBJDUMP x86_64-w64-mingw32-objdump)
# Debian's wine64 package puts its loader in /usr/lib/wine.
find_program(REGMEX_WINE NAMES wine64 HINTS /usr/lib/wine)
set(missing)
if(NOT REGMEX_MINGW_CXX OR NOT REGMEX_MINGW_OBJDUMP)
  list(APPEND missing "MinGW-w64 (x86_64-w64-mingw32-g++-posix)")
endif()
if(NOT REGMEX_WINE)
  list(APPEND missing "wine64")
endif()
if(REGMEX_WINDOWS_OPENCV AND NOT REGMEX_WINDOWS_OPENCV_PREFIX)
  find_program(REGMEX_CURL curl)
  find_program(REGMEX_DPKG_SOURCE dpkg-source)
  if(NOT REGMEX_CURL OR NOT REGMEX_DPKG_SOURCE)
    list(APPEND missing "curl and dpkg-source (OpenCV's Debian sources)")
  endif()
endif()
regmex_missing(found missing ${missing})
regmex_decide(REGMEX_WINDOWS "Windows build" found "${missing}")
if(NOT REGMEX_WINDOWS)
  return()
endif()

if(REGMEX_WINDOWS_OPENCV)
  regmex_find_plugins(windows_plugins ${CMAKE_SOURCE_DIR})
  set(opencv_args -DREGMEX_OPENCV_PREFIX=${REGMEX_WINDOWS_OPENCV_PREFIX}
                  -DREGMEX_CROSS_OPENCV=${CMAKE_SOURCE_DIR}/tools/cross_opencv.sh)
else()
  regmex_find_windows_plugins(windows_plugins ${CMAKE_SOURCE_DIR})
  set(opencv_args -DREGMEX_OPENCV_PREFIX= -DREGMEX_CROSS_OPENCV=)
endif()
# The plug-ins that link OpenCV, for the tests.
set(REGMEX_WINDOWS_OPENCV_PLUGINS ${windows_plugins})
regmex_find_windows_plugins(plain_plugins ${CMAKE_SOURCE_DIR})
list(REMOVE_ITEM REGMEX_WINDOWS_OPENCV_PLUGINS ${plain_plugins})
set(windows_products)
foreach(plugin IN LISTS windows_plugins)
  list(APPEND windows_products ${REGMEX_WINDOWS_DIR}/${plugin}.mexw64)
endforeach()

include(ExternalProject)
ExternalProject_Add(regmex_windows
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/windows
  BINARY_DIR ${REGMEX_WINDOWS_DIR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/windows/Toolchain.cmake -DCMAKE_BUILD_TYPE=Release
             ${opencv_args}
  # The sources live outside windows/: let its own build decide what is stale.
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${windows_products})
