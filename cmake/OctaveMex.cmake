# regmex_add_octave_mex(<name> SOURCES ... [INCLUDES ...] [LIBS names...] [HELP file.m]
#                       [OUTDIR dir])
# Builds <dir>/<name>.mex (by default build/mex) from the given sources with
# Octave's mkoctfile, against Octave's own mex.h, linking the libraries named
# as after -l (the plug-in's Sources.txt), and copies the help file beside it.
find_program(MKOCTFILE mkoctfile)
if(NOT MKOCTFILE)
  message(FATAL_ERROR "mkoctfile not found: install octave-dev (make deps)")
endif()
file(MAKE_DIRECTORY ${REGMEX_MEX_DIR})

function(regmex_add_octave_mex name)
  cmake_parse_arguments(ARG "" "HELP;OUTDIR" "SOURCES;INCLUDES;LIBS" ${ARGN})
  if(NOT ARG_OUTDIR)
    set(ARG_OUTDIR ${REGMEX_MEX_DIR})
  endif()
  set(flags)
  foreach(dir ${ARG_INCLUDES})
    list(APPEND flags -I${dir})
  endforeach()
  # mkoctfile takes libraries only as -L/-l flags.
  set(libs)
  set(opencv FALSE)
  foreach(lib ${ARG_LIBS})
    if(lib MATCHES "^opencv_" AND NOT opencv)
      set(opencv TRUE)
      list(APPEND flags -I${OPENCV_INCLUDE_DIR})
      get_filename_component(cvlibdir ${OPENCV_core_LIBRARY} DIRECTORY)
      list(APPEND libs -L${cvlibdir})
    endif()
    list(APPEND libs -l${lib})
  endforeach()
  set(out ${ARG_OUTDIR}/${name}.mex)
  set(objdir ${CMAKE_CURRENT_BINARY_DIR}/octave_${name})
  # mkoctfile writes objects next to the sources unless each is compiled on
  # its own, so the sources are compiled into objdir first, then linked.
  set(objects)
  foreach(src ${ARG_SOURCES})
    get_filename_component(srcabs ${src} ABSOLUTE)
    get_filename_component(base ${src} NAME_WE)
    # The folder in the name: a plug-in file and a bridge file may share one.
    get_filename_component(folder ${srcabs} DIRECTORY)
    get_filename_component(folder ${folder} NAME)
    set(obj ${objdir}/${folder}_${base}.o)
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
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ARG_OUTDIR}
    COMMAND ${MKOCTFILE} --mex -o ${out} ${objects} ${libs}
    DEPENDS ${objects}
    COMMENT "mkoctfile --mex -o ${name}.mex"
    VERBATIM)
  set(deps ${out})
  if(ARG_HELP)
    get_filename_component(helpabs ${ARG_HELP} ABSOLUTE)
    add_custom_command(OUTPUT ${ARG_OUTDIR}/${name}.m
      COMMAND ${CMAKE_COMMAND} -E copy ${helpabs} ${ARG_OUTDIR}/${name}.m
      DEPENDS ${helpabs} VERBATIM)
    list(APPEND deps ${ARG_OUTDIR}/${name}.m)
  endif()
  add_custom_target(${name}_octave ALL DEPENDS ${deps})
endfunction()

# The m-functions that go with the plug-ins (fitting, peak search) sit
# beside the MEX files too, so that addpath('build/mex') brings them: every
# file of octave/functions, which holds nothing else.
file(GLOB regmex_mfunctions CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/octave/functions/*.m)
set(regmex_mfiles)
foreach(source ${regmex_mfunctions})
  get_filename_component(mfile ${source} NAME)
  add_custom_command(OUTPUT ${REGMEX_MEX_DIR}/${mfile}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${REGMEX_MEX_DIR}/${mfile}
    DEPENDS ${source} VERBATIM)
  list(APPEND regmex_mfiles ${REGMEX_MEX_DIR}/${mfile})
endforeach()
add_custom_target(regmex_octave_mfiles ALL DEPENDS ${regmex_mfiles})

# regmex_mex: the plug-ins' MEX files, their help and the m-functions, all
# that Octave (and the demo) needs, without the tests and benchmarks
# (make demo).  Each plug-in adds its MEX file (cmake/Plugin.cmake).
add_custom_target(regmex_mex)
add_dependencies(regmex_mex regmex_octave_mfiles)
