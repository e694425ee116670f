# The project's version is written once, in project(); everything else that shows it is made
# from it here and in src/CMakeLists.txt (the resource script and the manifest).
set(KESTRUNE_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${KESTRUNE_GENERATED_DIR}/kestrune/version.h @ONLY)
# The host and the tests that compare what they see with it include <kestrune/version.h>.
include_directories(${KESTRUNE_GENERATED_DIR})
# For the scripts: the archives' names and the main window's title.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/version.txt CONTENT "@PROJECT_VERSION@\n" @ONLY)
# Shipped as readme.txt in the release archives (scripts/package); its title's underline is as
# long as the title.
string(LENGTH "Kestrune ${PROJECT_VERSION}" _title_length)
string(REPEAT "=" ${_title_length} KESTRUNE_README_UNDERLINE)
configure_file(${CMAKE_SOURCE_DIR}/docs/release-readme.txt.in ${CMAKE_BINARY_DIR}/release-readme.txt @ONLY)
