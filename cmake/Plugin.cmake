# regmex_add_plugin(<name> SOURCES ... [LIBS ...])
# Builds lib<name>.so against the embedded host, in build/plugins, exporting
# only its MEX entry points.
function(regmex_add_plugin name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE regmex_host ${ARG_LIBS})
  target_compile_options(${name} PRIVATE ${REGMEX_WARNINGS})
  set_target_properties(${name} PROPERTIES
    PREFIX "lib"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${REGMEX_PLUGIN_DIR})
endfunction()
