# The Windows build of the plug-ins that need no OpenCV (windows/; today
# driftfield), cross-compiled with MinGW-w64
# into build/windows as an external project, and tested under wine
# (tests/windows).  Debian's g++-mingw-w64-x86-64-posix and wine64 provide
# the tools; `make deps` installs them.
option(REGMEX_WINDOWS "Cross-build the plug-ins without OpenCV (driftfield.mexw64) for 64-bit Windows and test them under wine" ON)
if(NOT REGMEX_WINDOWS)
  return()
endif()

set(REGMEX_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)
find_program(REGMEX_MINGW_CXX x86_64-w64-mingw32-g++-posix)
find_program(REGMEX_MINGW_OBJDUMP x86_64-w64-mingw32-objdump)
# Debian's wine64 package puts its loader in /usr/lib/wine.
find_program(REGMEX_WINE NAMES wine64 HINTS /usr/lib/wine)
foreach(tool REGMEX_MINGW_CXX REGMEX_MINGW_OBJDUMP REGMEX_WINE)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool} not found: install g++-mingw-w64-x86-64-posix and wine64 (make deps), "
                        "or configure with -DREGMEX_WINDOWS=OFF")
  endif()
endforeach()

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
