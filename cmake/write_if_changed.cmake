# write_if_changed(FILE CONTENT): writes CONTENT to FILE unless FILE holds it
# already, so that what depends on a generated file is rebuilt only when its
# text changes.
function(write_if_changed file content)
  if(EXISTS "${file}")
    file(READ "${file}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${file}" "${content}")
endfunction()
