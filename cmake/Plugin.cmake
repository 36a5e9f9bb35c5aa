# Plug-in targets from each plug-in folder's Sources.txt (its format:
# docs/Sources.md).
#
# regmex_find_plugins(<out> <root>) sets <out> to the plug-ins of the tree at
# <root>, sorted: every top-level folder holding a Sources.txt or a help file
# named after it (<name>/<name>.m).  A folder with only one of the two stops
# the configuration, so that a lost description is an error, not a plug-in
# silently left out.
function(regmex_find_plugins out root)
  set(depends)
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    set(depends CONFIGURE_DEPENDS)
  endif()
  file(GLOB found ${depends} LIST_DIRECTORIES false RELATIVE ${root} ${root}/*/Sources.txt ${root}/*/*.m)
  set(plugins)
  foreach(path IN LISTS found)
    get_filename_component(folder ${path} DIRECTORY)
    get_filename_component(file ${path} NAME)
    if(file STREQUAL "Sources.txt" OR file STREQUAL "${folder}.m")
      list(APPEND plugins ${folder})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES plugins)
  list(SORT plugins)
  foreach(plugin IN LISTS plugins)
    foreach(file Sources.txt ${plugin}.m)
      if(NOT EXISTS ${root}/${plugin}/${file})
        message(FATAL_ERROR "${plugin}: ${root}/${plugin}/${file} is missing")
      endif()
    endforeach()
  endforeach()
  set(${out} ${plugins} PARENT_SCOPE)
endfunction()

# regmex_read_sources(<plugin>) sets, in the caller's scope,
#   REGMEX_<PLUGIN>_SHELL   shell files, absolute, the entry file first
#   REGMEX_<PLUGIN>_CORE    core files, absolute
#   REGMEX_<PLUGIN>_BRIDGE  bridge files, absolute
#   REGMEX_<PLUGIN>_LIBS    library names as after -l
#   REGMEX_<PLUGIN>_OPENCV  TRUE when a library is one of OpenCV's
# A missing description, an unknown key, a missing file or an empty shell
# stops the configuration.  The tree is CMAKE_SOURCE_DIR, or
# REGMEX_SOURCE_ROOT where set (the Windows build, a project of its own in
# windows/, and the readers' test in script mode).
function(regmex_read_sources plugin)
  set(root ${CMAKE_SOURCE_DIR})
  if(REGMEX_SOURCE_ROOT)
    set(root ${REGMEX_SOURCE_ROOT})
  endif()
  set(dir ${root}/${plugin})
  set(description ${dir}/Sources.txt)
  if(NOT EXISTS ${description})
    message(FATAL_ERROR "${plugin}: ${description} is missing")
  endif()
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${description})
  endif()
  file(STRINGS ${description} lines)
  set(shell)
  set(core)
  set(bridge)
  set(libs)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(#.*)?$")
      continue()
    endif()
    if(NOT line MATCHES "^(shell|core|bridge|libs):(.*)$")
      message(FATAL_ERROR "${description}: not a 'shell:', 'core:', 'bridge:' or 'libs:' line: ${line}")
    endif()
    set(key ${CMAKE_MATCH_1})
    string(REGEX MATCHALL "[^ \t]+" words "${CMAKE_MATCH_2}")
    list(APPEND ${key} ${words})
  endforeach()
  if(NOT shell)
    message(FATAL_ERROR "${description}: no 'shell:' files")
  endif()
  set(up ${plugin})
  string(TOUPPER ${up} up)
  foreach(key shell core bridge)
    set(files)
    set(folder ${dir})
    if(key STREQUAL "bridge")
      set(folder ${root}/bridge)
    endif()
    foreach(name IN LISTS ${key})
      if(NOT EXISTS ${folder}/${name})
        message(FATAL_ERROR "${description}: ${key} file ${folder}/${name} is missing")
      endif()
      list(APPEND files ${folder}/${name})
    endforeach()
    string(TOUPPER ${key} KEY)
    set(REGMEX_${up}_${KEY} ${files} PARENT_SCOPE)
  endforeach()
  set(REGMEX_${up}_LIBS ${libs} PARENT_SCOPE)
  set(opencv FALSE)
  foreach(lib IN LISTS libs)
    if(lib MATCHES "^opencv_")
      set(opencv TRUE)
    endif()
  endforeach()
  set(REGMEX_${up}_OPENCV ${opencv} PARENT_SCOPE)
endfunction()

# regmex_find_windows_plugins(<out> <root>): the plug-ins the Windows build
# makes without OpenCV, those whose Sources.txt links no library but the
# thread library (which the static MinGW-w64 runtime carries) and the loader
# library (which Windows does not have).
function(regmex_find_windows_plugins out root)
  set(REGMEX_SOURCE_ROOT ${root})
  regmex_find_plugins(plugins ${root})
  set(windows)
  foreach(plugin IN LISTS plugins)
    regmex_read_sources(${plugin})
    string(TOUPPER ${plugin} up)
    set(libs ${REGMEX_${up}_LIBS})
    list(REMOVE_ITEM libs pthread dl)
    if(NOT libs)
      list(APPEND windows ${plugin})
    endif()
  endforeach()
  set(${out} ${windows} PARENT_SCOPE)
endfunction()

# regmex_link_items(<out> <names>...): the CMake link items for -l names:
# OpenCV's modules by their found paths, pthread as Threads::Threads, dl as
# the platform's loader library (none where dlopen is in the C library).
function(regmex_link_items out)
  set(items)
  foreach(name IN LISTS ARGN)
    if(name MATCHES "^opencv_(.+)$")
      set(module ${CMAKE_MATCH_1})
      find_library(OPENCV_${module}_LIBRARY opencv_${module} REQUIRED)
      list(APPEND items ${OPENCV_${module}_LIBRARY})
    elseif(name STREQUAL "pthread")
      list(APPEND items Threads::Threads)
    elseif(name STREQUAL "dl")
      list(APPEND items ${CMAKE_DL_LIBS})
    else()
      list(APPEND items ${name})
    endif()
  endforeach()
  set(${out} ${items} PARENT_SCOPE)
endfunction()

# regmex_add_plugin(<name>): reads <name>/Sources.txt and builds
#   <name>_core   static: core and bridge files, linking the libraries
#   <name>        lib<name>.so in build/plugins against the embedded host,
#                 the shell files over <name>_core, exporting only its MEX
#                 entry points
# and, with REGMEX_OCTAVE, build/mex/<name>.mex (cmake/OctaveMex.cmake).
# The REGMEX_<NAME>_* lists of regmex_read_sources are set in the caller's
# scope for tests, benchmarks and fuzzers.
function(regmex_add_plugin name)
  regmex_read_sources(${name})
  string(TOUPPER ${name} up)
  foreach(part SHELL CORE BRIDGE LIBS OPENCV)
    set(REGMEX_${up}_${part} ${REGMEX_${up}_${part}} PARENT_SCOPE)
  endforeach()
  regmex_link_items(libs ${REGMEX_${up}_LIBS})

  if(REGMEX_${up}_CORE OR REGMEX_${up}_BRIDGE)
    add_library(${name}_core STATIC ${REGMEX_${up}_CORE} ${REGMEX_${up}_BRIDGE})
    target_compile_options(${name}_core PRIVATE ${REGMEX_WARNINGS})
    set_target_properties(${name}_core PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    set(scope PUBLIC)
  else()
    # A shell alone: its core only carries the include folders and libraries.
    add_library(${name}_core INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${name}_core ${scope} ${CMAKE_SOURCE_DIR}/${name} ${CMAKE_SOURCE_DIR}/bridge)
  if(REGMEX_${up}_OPENCV)
    target_include_directories(${name}_core SYSTEM ${scope} ${OPENCV_INCLUDE_DIR})
  endif()
  target_link_libraries(${name}_core ${scope} regmex_host ${libs})

  add_library(${name} MODULE ${REGMEX_${up}_SHELL})
  target_link_libraries(${name} PRIVATE ${name}_core)
  target_compile_options(${name} PRIVATE ${REGMEX_WARNINGS})
  # Every symbol resolved at link time, so that a library missing from the
  # description fails the build rather than the first load (not with the
  # sanitizers, whose runtime only the executable carries).
  if(NOT REGMEX_SANITIZE AND NOT REGMEX_FUZZ)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  set_target_properties(${name} PROPERTIES
    PREFIX "lib"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${REGMEX_PLUGIN_DIR})

  if(REGMEX_OCTAVE)
    regmex_add_octave_mex(${name}
      SOURCES ${REGMEX_${up}_SHELL} ${REGMEX_${up}_CORE} ${REGMEX_${up}_BRIDGE}
      INCLUDES ${CMAKE_SOURCE_DIR}/${name} ${CMAKE_SOURCE_DIR}/bridge
      LIBS ${REGMEX_${up}_LIBS}
      HELP ${CMAKE_SOURCE_DIR}/${name}/${name}.m)
    add_dependencies(regmex_mex ${name}_octave)
  endif()
endfunction()
