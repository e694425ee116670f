# GoogleTest from the sources of Debian's googletest package, cross-built.
set(KESTRUNE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${KESTRUNE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
# Built quickly, as the tests are: no debug information, light optimisation.
target_compile_options(gtest PRIVATE -O1 -g0)
target_compile_options(gtest_main PRIVATE -O1 -g0)

# How long each CTest test takes in a normal run, per target (tests/suite_seconds.txt, which
# scripts/lib/suite_seconds.py writes from a run's CTest logs). A test's time-out is about three
# times that, and at least a minute: a stuck suite costs minutes, not the run. The same figure is
# its cost, so that a parallel run starts the longest suites first.
file(STRINGS ${CMAKE_SOURCE_DIR}/tests/suite_seconds.txt _kestrune_seconds REGEX "^[a-z0-9_]+ ")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KESTRUNE_TEST_TARGET i686)
else()
  set(KESTRUNE_TEST_TARGET x86_64)
endif()
set(KESTRUNE_TIMEOUT_FLOOR 60)
set(KESTRUNE_TIMEOUT_UNKNOWN 600)

# Time-out, cost, label and desktop of one CTest test. Each test holds one desktop (an Xvfb
# display with a Wine prefix of its own) while it runs: the e2e tests move the mouse and press
# keys, and a prefix's wineserver holds its windows. scripts/test offers two per target and says
# which is which (wine.sh's take_desktop); a plain ctest run without them runs one test at a time.
function(kestrune_set_test_properties name label)
  set(_seconds "")
  foreach(_line IN LISTS _kestrune_seconds)
    if(_line MATCHES "^${KESTRUNE_TEST_TARGET} ${name} ([0-9]+)$")
      set(_seconds ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if(_seconds STREQUAL "")
    set(_timeout ${KESTRUNE_TIMEOUT_UNKNOWN})
    set(_cost ${KESTRUNE_TIMEOUT_UNKNOWN})
  else()
    math(EXPR _timeout "${_seconds} * 3")
    if(_timeout LESS KESTRUNE_TIMEOUT_FLOOR)
      set(_timeout ${KESTRUNE_TIMEOUT_FLOOR})
    endif()
    set(_cost ${_seconds})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${_timeout} COST ${_cost} LABELS "${label}"
    RESOURCE_GROUPS desktop:1)
endfunction()

# The desktops CTest may hand a test, two: scripts/test gives each a display and a prefix of its
# own, and runs two tests at a time. The test presets point CTest at this file.
file(WRITE ${CMAKE_BINARY_DIR}/desktops.json
  "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"desktop\": [{\"id\": \"0\", \"slots\": 1}, {\"id\": \"1\", \"slots\": 1}]}]}\n")

# One CTest test per GoogleTest suite of a test program, on both targets: a failure reruns only
# its suite, and a stuck one costs only its own time-out. The suites are read from the sources at
# configure time. EXCLUDE names cases (Suite.Case, wildcards allowed) or whole suites (Suite.*)
# left out on this target.
function(kestrune_add_gtest target)
  get_target_property(_sources ${target} SOURCES)
  get_target_property(_dir ${target} SOURCE_DIR)
  set(_suites "")
  foreach(_src IN LISTS _sources)
    if(NOT IS_ABSOLUTE ${_src})
      set(_src ${_dir}/${_src})
    endif()
    file(STRINGS ${_src} _lines REGEX "^(TEST|TEST_F|TEST_P)\\(")
    foreach(_line IN LISTS _lines)
      string(REGEX REPLACE "^TEST[_FP]*\\(([A-Za-z0-9_]+),.*" "\\1" _suite "${_line}")
      list(APPEND _suites ${_suite})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES _suites)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_sources})
  cmake_parse_arguments(ARG "" "LABEL" "EXCLUDE" ${ARGN})
  # The programs run under Wine, where Z: is the Linux root.
  set(_results Z:${CMAKE_BINARY_DIR}/test-results)
  foreach(_suite IN LISTS _suites)
    set(_left_out "")
    foreach(_pattern IN LISTS ARG_EXCLUDE)
      if(_pattern STREQUAL "${_suite}.*")
        set(_left_out ALL)
      elseif(_pattern MATCHES "^${_suite}\\.")
        list(APPEND _left_out ${_pattern})
      endif()
    endforeach()
    if(_left_out STREQUAL "ALL")
      continue()
    endif()
    set(_filter "${_suite}.*")
    if(_left_out)
      list(JOIN _left_out ":" _negative)
      set(_filter "${_filter}-${_negative}")
    endif()
    add_test(NAME ${target}.${_suite}
      COMMAND ${target} --gtest_filter=${_filter} --gtest_output=xml:${_results}/${target}.${_suite}.xml)
    kestrune_set_test_properties(${target}.${_suite} "${ARG_LABEL}")
  endforeach()
endfunction()
