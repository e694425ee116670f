# Shared by both targets: the including file sets CMAKE_SYSTEM_PROCESSOR and KESTRUNE_TRIPLE.
set(CMAKE_C_COMPILER ${KESTRUNE_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUNE_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRUNE_TRIPLE}-windres)
set(CMAKE_STRIP ${KESTRUNE_TRIPLE}-strip)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUNE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Everything links the runtime statically, so nothing needs a mingw DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# CTest runs the Windows programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/lib/wine-exec)
