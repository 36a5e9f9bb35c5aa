# regmex_add_octave_mex(<name> SOURCES ... [INCLUDES ...] [OPENCV] [HELP file.m] [LIBS ...])
# Builds build/mex/<name>.mex from the same sources with Octave's mkoctfile,
# against Octave's own mex.h, and copies the help file beside it.
find_program(MKOCTFILE mkoctfile)
if(NOT MKOCTFILE)
  message(FATAL_ERROR "mkoctfile not found: install octave-dev (make deps)")
endif()
file(MAKE_DIRECTORY ${REGMEX_MEX_DIR})

function(regmex_add_octave_mex name)
  cmake_parse_arguments(ARG "OPENCV" "HELP" "SOURCES;INCLUDES;LIBS" ${ARGN})
  set(flags)
  foreach(dir ${ARG_INCLUDES})
    list(APPEND flags -I${dir})
  endforeach()
  set(libs ${ARG_LIBS})
  if(ARG_OPENCV)
    list(APPEND flags -I${OPENCV_INCLUDE_DIR})
    # mkoctfile takes libraries only as -L/-l flags.
    get_filename_component(cvlibdir ${OPENCV_core_LIBRARY} DIRECTORY)
    list(APPEND libs -L${cvlibdir} -lopencv_imgcodecs -lopencv_imgproc -lopencv_core)
  endif()
  set(out ${REGMEX_MEX_DIR}/${name}.mex)
  set(objdir ${CMAKE_CURRENT_BINARY_DIR}/octave_${name})
  # mkoctfile writes objects next to the sources unless each is compiled on
  # its own, so the sources are compiled into objdir first, then linked.
  set(objects)
  foreach(src ${ARG_SOURCES})
    get_filename_component(srcabs ${src} ABSOLUTE)
    get_filename_component(base ${src} NAME_WE)
    set(obj ${objdir}/${base}.o)
    add_custom_command(OUTPUT ${obj}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${objdir}
      COMMAND ${MKOCTFILE} --mex -c ${flags} -o ${obj} ${srcabs}
      DEPENDS ${srcabs}
      IMPLICIT_DEPENDS CXX ${srcabs}
      COMMENT "mkoctfile --mex -c ${base}"
      VERBATIM)
    list(APPEND objects ${obj})
  endforeach()
  add_custom_command(OUTPUT ${out}
    COMMAND ${MKOCTFILE} --mex -o ${out} ${objects} ${libs} -lpthread
    DEPENDS ${objects}
    COMMENT "mkoctfile --mex -o ${name}.mex"
    VERBATIM)
  set(deps ${out})
  if(ARG_HELP)
    get_filename_component(helpabs ${ARG_HELP} ABSOLUTE)
    add_custom_command(OUTPUT ${REGMEX_MEX_DIR}/${name}.m
      COMMAND ${CMAKE_COMMAND} -E copy ${helpabs} ${REGMEX_MEX_DIR}/${name}.m
      DEPENDS ${helpabs} VERBATIM)
    list(APPEND deps ${REGMEX_MEX_DIR}/${name}.m)
  endif()
  add_custom_target(${name}_octave ALL DEPENDS ${deps})
endfunction()

# The m-functions that go with the plug-ins (fitting, peak search) sit
# beside the MEX files too, so that addpath('build/mex') brings them.
set(regmex_mfiles)
foreach(mfile tpsfit tmatchpeak)
  add_custom_command(OUTPUT ${REGMEX_MEX_DIR}/${mfile}.m
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/octave/${mfile}.m ${REGMEX_MEX_DIR}/${mfile}.m
    DEPENDS ${CMAKE_SOURCE_DIR}/octave/${mfile}.m VERBATIM)
  list(APPEND regmex_mfiles ${REGMEX_MEX_DIR}/${mfile}.m)
endforeach()
add_custom_target(regmex_octave_mfiles ALL DEPENDS ${regmex_mfiles})
