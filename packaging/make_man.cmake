# Writes OUTPUT, the manual page of PROGRAM, with help2man from the program's
# own --help and --version. The page's date is the source's last commit
# (SOURCE_DATE_EPOCH where it is set, as release.sh sets it), so that the
# same source gives the same page.
# Usage: cmake -DHELP2MAN=help2man -DPROGRAM=path -DSUMMARY=text -DOUTPUT=file
#              -DSOURCE_DIR=dir -P make_man.cmake
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(NOT epoch)
  find_program(git_program git)
  if(git_program AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND ${git_program} -C "${SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
if(NOT epoch)
  set(epoch 0)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch} LC_ALL=C.UTF-8
                        ${HELP2MAN} --no-info --no-discard-stderr "--name=${SUMMARY}" "--output=${OUTPUT}.new"
                        "${PROGRAM}"
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  file(REMOVE "${OUTPUT}.new")
  message(FATAL_ERROR "help2man could not make a page of ${PROGRAM}: ${errors}")
endif()
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
