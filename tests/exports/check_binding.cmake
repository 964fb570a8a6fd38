# Checks how one shared library binds and names itself:
#   cmake -DOBJDUMP=objdump -DLIBRARY=lib.so -DDEF_FILES="a.def|b.def" -DSONAME=lib.so.0
#         -P check_binding.cmake
# Fails when a dynamic relocation names an exported function (a call inside
# the library that another library's function of that name could take over),
# or when the library's SONAME is not the expected one.
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/MaltorExports.cmake)

string(REPLACE "|" ";" def_files "${DEF_FILES}")
maltor_read_def_files(listed aliases ${def_files})

execute_process(COMMAND ${OBJDUMP} -R -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${dump}")
set(problems)
set(soname "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ +R_[A-Z0-9_]+ +([A-Za-z_][A-Za-z0-9_]*)")
    if(CMAKE_MATCH_1 IN_LIST listed)
      list(APPEND problems "relocation against the exported ${CMAKE_MATCH_1}: ${line}")
    endif()
  elseif(line MATCHES "^ +SONAME +([^ ]+)$")
    set(soname "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT soname STREQUAL SONAME)
  list(APPEND problems "SONAME is '${soname}', not ${SONAME}")
endif()
if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "${LIBRARY}:\n  ${text}")
endif()
list(LENGTH listed count)
message(STATUS "${LIBRARY}: SONAME ${soname}, no relocation against its ${count} exported names")
