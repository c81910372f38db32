# Fills a text template of packaging/ (the Windows readme.txt, the Linux
# archive's README.txt) with facts taken from the code, not typed again:
#   @VERSION@        the project's version (the top CMakeLists.txt)
#   @END_SECONDS@    the frame loop's end, EXIT_TIME_MS (core/playback/playback.h)
#   @FRAME_SIZE@     the frame the shader draws, FRAME_WIDTH x FRAME_HEIGHT
#                    (shader/frame_size.h)
#   @FLASH_SECONDS@  the flash that the demo's --help warns of (read by the
#                    demo from the scene shader's own text)
#   @OPTIONS@        the option lines of DEMO --help (the demo's own text)
#   @GLIBC_VERSION@, @GLIBC_DISTRIBUTIONS@  as given (release.sh measures them)
# CRLF=ON writes Windows line ends.
# Usage: cmake -DSOURCE_DIR=dir -DDEMO=program -DTEMPLATE=file -DOUTPUT=file
#              [-DGLIBC_VERSION=2.34 -DGLIBC_DISTRIBUTIONS=text] [-DCRLF=ON] -P fill_text.cmake
function(read_fact variable file pattern)
  file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "${pattern}")
  if(NOT lines MATCHES "${pattern}")
    message(FATAL_ERROR "fill_text.cmake: no '${pattern}' in ${file}")
  endif()
  set(${variable} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

read_fact(VERSION CMakeLists.txt "^project\\(demo VERSION ([0-9.]+) ")
read_fact(end_ms core/playback/playback.h "EXIT_TIME_MS = ([0-9]+)")
read_fact(frame_width shader/frame_size.h "FRAME_WIDTH = ([0-9]+)")
read_fact(frame_height shader/frame_size.h "FRAME_HEIGHT = ([0-9]+)")
set(FRAME_SIZE "${frame_width}x${frame_height}")
math(EXPR whole "${end_ms} / 1000")
math(EXPR rest "${end_ms} % 1000")
if(rest EQUAL 0)
  set(END_SECONDS ${whole})
else()
  math(EXPR padded "${rest} + 1000")
  string(SUBSTRING "${padded}" 1 3 rest)
  string(REGEX REPLACE "0+$" "" rest "${rest}")
  set(END_SECONDS "${whole}.${rest}")
endif()

# The option lines of the demo's --help: from the first line that starts with
# "  --" to the blank line after them.
execute_process(COMMAND "${DEMO}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "fill_text.cmake: ${DEMO} --help failed")
endif()
if(NOT help MATCHES "Warning: at ([0-9.]+) s the whole screen flashes white")
  message(FATAL_ERROR "fill_text.cmake: ${DEMO} --help names no flash")
endif()
set(FLASH_SECONDS "${CMAKE_MATCH_1}")
string(REGEX MATCH "\n(  --[^\n]*\n([^\n]+\n)*)" found "${help}")
if(NOT found)
  message(FATAL_ERROR "fill_text.cmake: no options in ${DEMO} --help")
endif()
string(REGEX REPLACE "\n$" "" OPTIONS "${CMAKE_MATCH_1}")

configure_file("${TEMPLATE}" "${OUTPUT}.new" @ONLY)
if(CRLF)
  file(READ "${OUTPUT}.new" text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${OUTPUT}.new" "${text}")
endif()
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
