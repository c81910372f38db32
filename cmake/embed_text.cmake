# Turns a text file into a C++ source holding it as one NUL-terminated string.
# Usage: cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -DHEADER=header.h -P embed_text.cmake
file(READ "${INPUT}" bytes HEX)
string(LENGTH "${bytes}" hexLength)
math(EXPR byteCount "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," chars "${bytes}")
# Break the initialiser into lines of 16 characters to keep the file readable.
string(REGEX REPLACE "(('[^']*',){16})" "\\1\n    " chars "${chars}")
set(content "// Generated from ${INPUT} at build time. Do not edit.\n#include \"${HEADER}\"\n\nnamespace {\nconst char text[${byteCount} + 1] = {\n    ${chars}'\\0'};\n}\n\nconst char* const ${SYMBOL} = text;\nconst unsigned ${SYMBOL}Length = ${byteCount};\n")
include(${CMAKE_CURRENT_LIST_DIR}/write_if_changed.cmake)
write_if_changed("${OUTPUT}" "${content}")
