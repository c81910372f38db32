# Writes OUTPUT, a C++ source with the version and the git revision of
# SOURCE_DIR, at build time; the file is rewritten only when its text changes.
# Usage: cmake -DVERSION=1.0.0 -DSOURCE_DIR=dir -DOUTPUT=file.cpp -P write_version.cmake
set(revision "")
find_program(git_program git)
if(git_program AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND ${git_program} -C "${SOURCE_DIR}" describe --always --dirty --abbrev=7
                  OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND described)
    set(revision "git ${described}")
  endif()
endif()
set(content "// Generated at build time by write_version.cmake. Do not edit.\n#include \"version.h\"\n\nconst char* const DEMO_VERSION = \"${VERSION}\";\nconst char* const DEMO_REVISION = \"${revision}\";\n")
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/write_if_changed.cmake)
write_if_changed("${OUTPUT}" "${content}")
