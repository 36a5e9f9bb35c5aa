# Cross-compiling for 64-bit Intel macOS (MATLAB's maci64) with Zig (macos/Zig.cmake).
set(REGMEX_MACOS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/Zig.cmake)
