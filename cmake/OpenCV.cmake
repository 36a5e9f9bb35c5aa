# Debian ships the OpenCV component packages without a pkg-config file or a
# CMake package for them alone, so the three libraries are found directly.
find_path(OPENCV_INCLUDE_DIR opencv2/core/core_c.h PATH_SUFFIXES opencv4 REQUIRED)
foreach(module core imgproc imgcodecs)
  find_library(OPENCV_${module}_LIBRARY opencv_${module} REQUIRED)
endforeach()
add_library(regmex_opencv INTERFACE)
target_include_directories(regmex_opencv SYSTEM INTERFACE ${OPENCV_INCLUDE_DIR})
target_link_libraries(regmex_opencv INTERFACE
  ${OPENCV_imgcodecs_LIBRARY} ${OPENCV_imgproc_LIBRARY} ${OPENCV_core_LIBRARY})
