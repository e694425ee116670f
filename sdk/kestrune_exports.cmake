# Run by kestrune_add_daemon at build time: writes the .def file that exports the daemon's
# entries under their plain names, with KestruneBound as ordinal 1.
#   cmake -DNM=<nm> -DARCH=x86|x64 -DOBJECTS=<a.o|b.o> -DOUTPUT=<file.def> -P kestrune_exports.cmake
string(REPLACE "|" ";" objects "${OBJECTS}")
execute_process(COMMAND ${NM} -g --defined-only ${objects}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read the daemon's objects")
endif()
set(def "EXPORTS\n    KestruneBound @1\n")
foreach(entry EntryPoint EntryState EntryMenu)
  if(ARCH STREQUAL "x86")
    # 32-bit names carry an underscore, and stdcall ones their argument bytes: _EntryMenu@12.
    if(symbols MATCHES " T _${entry}\n")
      string(APPEND def "    ${entry}\n")
    elseif(symbols MATCHES " T _${entry}(@[0-9]+)\n")
      string(APPEND def "    ${entry}=${entry}${CMAKE_MATCH_1}\n")
    endif()
  elseif(symbols MATCHES " T ${entry}\n")
    string(APPEND def "    ${entry}\n")
  endif()
endforeach()
if(NOT def MATCHES "EntryPoint")
  message(FATAL_ERROR "no EntryPoint defined: declare it as kestrune/daemon.h does (extern \"C\" in C++)")
endif()
# Rewritten only when it changes, so an unchanged daemon is not linked again.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
endif()
if(NOT "${previous}" STREQUAL "${def}")
  file(WRITE "${OUTPUT}" "${def}")
endif()
