# cmake -DCXX=... -DPATHS=file -DWORK=dir -P check_collaborators.cmake
# The context is a facade (tbxctx.h) over collaborators that call only downwards: no header of the
# context folder but the facade itself and the messages, which sit above it, may bring tbxctx.h in,
# directly or through another header.
include(${PATHS})
file(MAKE_DIRECTORY ${WORK})
set(flags "")
foreach(dir IN LISTS path_tbx_context)
  list(APPEND flags "-I${dir}")
endforeach()

set(headers "")
foreach(path IN LISTS headers_tbx_context)
  get_filename_component(name ${path} NAME)
  list(APPEND headers ${name})
endforeach()
list(REMOVE_ITEM headers tbxctx.h tbxmessage.h)
set(failures 0)
foreach(header IN LISTS headers)
  set(source ${WORK}/collaborator-${header}.cpp)
  file(WRITE ${source} "#include \"${header}\"\n#ifdef TBXCTX_H\n#error includes tbxctx.h\n#endif\n")
  execute_process(
    COMMAND ${CXX} -std=c++17 -fsyntax-only -DTBX_BUILDING_LIBRARY ${flags} ${source}
    RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(SEND_ERROR "${header} does not compile on its own, or brings in tbxctx.h:\n${err}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
list(LENGTH headers count)
message(STATUS "${count} context headers checked, ${failures} wrong")
