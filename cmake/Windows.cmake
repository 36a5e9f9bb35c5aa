# The Windows build of the plug-ins that need no OpenCV (windows/; today
# driftfield), cross-compiled with MinGW-w64
# into build/windows as an external project, and tested under wine
# (tests/windows).  Debian's g++-mingw-w64-x86-64-posix and wine64 provide
# the tools; `make deps-test` installs them.
# REGMEX_WINDOWS (cmake/Optional.cmake) decides whether it is built.
regmex_wanted(wanted REGMEX_WINDOWS "Windows build")
if(NOT wanted)
  return()
endif()

set(REGMEX_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)
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
regmex_missing(found missing ${missing})
regmex_decide(REGMEX_WINDOWS "Windows build" found "${missing}")
if(NOT REGMEX_WINDOWS)
  return()
endif()

regmex_find_windows_plugins(windows_plugins ${CMAKE_SOURCE_DIR})
set(windows_products)
foreach(plugin IN LISTS windows_plugins)
  list(APPEND windows_products ${REGMEX_WINDOWS_DIR}/${plugin}.mexw64)
endforeach()

include(ExternalProject)
ExternalProject_Add(regmex_windows
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/windows
  BINARY_DIR ${REGMEX_WINDOWS_DIR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/windows/Toolchain.cmake -DCMAKE_BUILD_TYPE=Release
  # The sources live outside windows/: let its own build decide what is stale.
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${windows_products})
