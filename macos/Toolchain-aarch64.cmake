# Cross-compiling for macOS on Apple silicon (MATLAB's maca64) with Zig (macos/Zig.cmake).
set(REGMEX_MACOS_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/Zig.cmake)
