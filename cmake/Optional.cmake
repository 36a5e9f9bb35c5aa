# The optional parts of the build (tests, benchmarks, fuzzers, the Windows
# build) each have a cache variable REGMEX_<PART> that is
#   AUTO  (the default) built when what it needs is found, otherwise skipped
#         with one line saying what is missing
#   ON    required: a missing need stops the configuration, so that
#         `make test` cannot pass by leaving something out
#   OFF   not built
#
# regmex_optional(<VAR> <default> <help>) declares the variable.
function(regmex_optional var default help)
  set(${var} ${default} CACHE STRING "${help}: AUTO (when found), ON (required) or OFF")
  set_property(CACHE ${var} PROPERTY STRINGS AUTO ON OFF)
endfunction()

# regmex_is_auto(<out> <VAR>) sets <out> TRUE when <VAR> is AUTO.
function(regmex_is_auto out var)
  string(TOUPPER "${${var}}" value)
  if(value STREQUAL "AUTO")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# regmex_wanted(<out> <VAR> <what>) sets <out> FALSE, and says so, when
# <VAR> is OFF; TRUE otherwise (then look for what the part needs).
function(regmex_wanted out var what)
  regmex_is_auto(auto ${var})
  if(NOT auto AND NOT ${var})
    message("regmex: ${what} skipped: ${var} is OFF")
    set(${out} FALSE PARENT_SCOPE)
  else()
    set(${out} TRUE PARENT_SCOPE)
  endif()
endfunction()

# regmex_decide(<VAR> <what> <found> <missing>): after the search, sets
# <VAR> in the caller's scope to ON when <found> is true, or else to OFF
# with the line "regmex: <what> skipped: <missing>" (AUTO), or stops the
# configuration (ON).  <found> is a variable name.
macro(regmex_decide var what found missing)
  if(${found})
    set(${var} ON)
  else()
    regmex_is_auto(regmex_auto ${var})
    if(NOT regmex_auto)
      message(FATAL_ERROR "regmex: ${what} required (${var}=${${var}}) but ${missing}")
    endif()
    message("regmex: ${what} skipped: ${missing}")
    set(${var} OFF)
  endif()
endmacro()

# regmex_missing(<found> <text> <names>...): for the list of what is missing
# (empty when all is there) sets <found>, and <text> to
# "A and B not found (make deps-test installs them)".
function(regmex_missing found text)
  if(NOT ARGN)
    set(${found} TRUE PARENT_SCOPE)
    return()
  endif()
  list(LENGTH ARGN count)
  set(them it)
  if(count GREATER 1)
    set(them them)
  endif()
  list(JOIN ARGN " and " names)
  set(${found} FALSE PARENT_SCOPE)
  set(${text} "${names} not found (make deps-test installs ${them})" PARENT_SCOPE)
endfunction()
