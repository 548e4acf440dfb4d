# cmake -DCLANG_FORMAT=... -DROOT=... -P check_format.cmake
set(files "")
foreach(dir include foundation base xml http context api java cli tools tests bench fuzz)
  file(GLOB_RECURSE found ${ROOT}/${dir}/*.cpp ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.c)
  list(APPEND files ${found})
endforeach()
execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${files}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "not in the repository's style (run clang-format -i on these files):\n${err}")
endif()
list(LENGTH files count)
message(STATUS "${count} files in style")
