# kestrune_daemon.cmake: builds Kestrune daemons for the 32-bit and the 64-bit host with mingw-w64.
#
#   cmake_minimum_required(VERSION 3.20)
#   project(clock LANGUAGES NONE)
#   include(path/to/sdk/kestrune_daemon.cmake)
#   kestrune_add_daemon(clock clock.c [more sources...] [LIBRARIES ws2_32 ...])
#
# gives <build>/x86/clock.dll for the 32-bit kestrune.exe and <build>/x64/clock.dll for the
# 64-bit one. Each DLL
#   - exports EntryPoint, EntryState and EntryMenu (those the sources define) under their plain
#     names, whatever their calling convention or export declaration;
#   - has KestruneBound, linked first, as its ordinal-1 export, so the entries and the state word
#     always lie at or above it and Kestrune accepts them wherever they are defined;
#   - links the C and C++ runtimes statically: it needs nothing beside it but system DLLs.
# Sources are C (.c) or C++ (.cpp, .cc, .cxx). The compilers are found on PATH; set
# KESTRUNE_MINGW_X86 and KESTRUNE_MINGW_X64 to their prefixes (i686-w64-mingw32-) otherwise.
include_guard(GLOBAL)
cmake_minimum_required(VERSION 3.20)

set(KESTRUNE_SDK_DIR ${CMAKE_CURRENT_LIST_DIR})
# An unpacked release has sdk/include; the source tree keeps the header in include/ above sdk/.
if(EXISTS ${KESTRUNE_SDK_DIR}/include/kestrune/daemon.h)
  set(KESTRUNE_SDK_INCLUDE ${KESTRUNE_SDK_DIR}/include)
else()
  get_filename_component(KESTRUNE_SDK_INCLUDE ${KESTRUNE_SDK_DIR}/../include ABSOLUTE)
endif()

# The posix thread model first: the runtime of std::thread and friends.
function(_kestrune_find_tool variable prefix tool)
  find_program(${variable} NAMES ${prefix}${tool}-posix ${prefix}${tool} ${prefix}${tool}.exe)
  if(NOT ${variable})
    message(FATAL_ERROR "kestrune_add_daemon: ${prefix}${tool} not found: install mingw-w64 or set "
                        "KESTRUNE_MINGW_X86 / KESTRUNE_MINGW_X64 to the compilers' prefix")
  endif()
endfunction()

set(KESTRUNE_MINGW_X86 "i686-w64-mingw32-" CACHE STRING "Prefix of the mingw-w64 tools for the 32-bit host")
set(KESTRUNE_MINGW_X64 "x86_64-w64-mingw32-" CACHE STRING "Prefix of the mingw-w64 tools for the 64-bit host")
foreach(_arch x86 x64)
  string(TOUPPER ${_arch} _prefix)
  set(_prefix ${KESTRUNE_MINGW_${_prefix}})
  _kestrune_find_tool(KESTRUNE_${_arch}_CC ${_prefix} gcc)
  _kestrune_find_tool(KESTRUNE_${_arch}_CXX ${_prefix} g++)
  find_program(KESTRUNE_${_arch}_NM NAMES ${_prefix}nm ${_prefix}nm.exe REQUIRED)
endforeach()

set(KESTRUNE_DAEMON_COMPILE_FLAGS -O2 -Wall -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN
    CACHE STRING "Flags for every daemon source")

# Adds the commands that compile source for arch into object.
function(_kestrune_compile arch source object)
  get_filename_component(_extension ${source} LAST_EXT)
  if(_extension MATCHES "^\\.(cpp|cc|cxx)$")
    set(_compiler ${KESTRUNE_${arch}_CXX})
  else()
    set(_compiler ${KESTRUNE_${arch}_CC})
  endif()
  add_custom_command(OUTPUT ${object}
    COMMAND ${_compiler} ${KESTRUNE_DAEMON_COMPILE_FLAGS} -I${KESTRUNE_SDK_INCLUDE} -MD -MF ${object}.d
            -c ${source} -o ${object}
    DEPENDS ${source}
    DEPFILE ${object}.d
    COMMENT "Compiling ${source} for the ${arch} host"
    VERBATIM)
endfunction()

function(kestrune_add_daemon name)
  cmake_parse_arguments(ARG "" "" "LIBRARIES" ${ARGN})
  if(NOT ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kestrune_add_daemon(${name}): no sources")
  endif()
  set(_linker_language CC)
  foreach(_source ${ARG_UNPARSED_ARGUMENTS})
    if(_source MATCHES "\\.(cpp|cc|cxx)$")
      set(_linker_language CXX)
    endif()
  endforeach()
  set(_libraries)
  foreach(_library ${ARG_LIBRARIES})
    list(APPEND _libraries -l${_library})
  endforeach()

  set(_dlls)
  foreach(_arch x86 x64)
    set(_out ${CMAKE_CURRENT_BINARY_DIR}/${_arch})
    set(_work ${_out}/${name}.objects)
    # The bound comes first in the link, so it lies below all of the daemon's own code.
    set(_bound ${_work}/kestrune_bound.o)
    _kestrune_compile(${_arch} ${KESTRUNE_SDK_DIR}/kestrune_bound.c ${_bound})
    set(_objects)
    foreach(_source ${ARG_UNPARSED_ARGUMENTS})
      get_filename_component(_path ${_source} ABSOLUTE)
      file(RELATIVE_PATH _relative ${CMAKE_CURRENT_SOURCE_DIR} ${_path})
      string(MAKE_C_IDENTIFIER ${_relative} _stem)
      _kestrune_compile(${_arch} ${_path} ${_work}/${_stem}.o)
      list(APPEND _objects ${_work}/${_stem}.o)
    endforeach()

    set(_def ${_work}/${name}.def)
    string(REPLACE ";" "|" _object_list "${_objects}")
    add_custom_command(OUTPUT ${_def}
      COMMAND ${CMAKE_COMMAND} -DNM=${KESTRUNE_${_arch}_NM} -DARCH=${_arch} -DOBJECTS=${_object_list}
              -DOUTPUT=${_def} -P ${KESTRUNE_SDK_DIR}/kestrune_exports.cmake
      DEPENDS ${_objects} ${KESTRUNE_SDK_DIR}/kestrune_exports.cmake
      COMMENT "Listing the entries of ${name} for the ${_arch} host"
      VERBATIM)

    set(_link_flags -shared -static -s)
    if(_arch STREQUAL "x86")
      # Any stdcall export keeps its plain name (EntryMenu, not EntryMenu@12).
      list(APPEND _link_flags -Wl,--kill-at)
    endif()
    set(_dll ${_out}/${name}.dll)
    add_custom_command(OUTPUT ${_dll}
      COMMAND ${KESTRUNE_${_arch}_${_linker_language}} ${_link_flags} -o ${_dll} ${_bound} ${_objects} ${_def}
              ${_libraries}
      DEPENDS ${_bound} ${_objects} ${_def}
      COMMENT "Linking ${name}.dll for the ${_arch} host"
      VERBATIM)
    list(APPEND _dlls ${_dll})
  endforeach()
  add_custom_target(${name} ALL DEPENDS ${_dlls})
endfunction()
