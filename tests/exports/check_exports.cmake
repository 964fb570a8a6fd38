# Checks the dynamic symbols of one shared library against its module
# definition files and, optionally, against the list of names the library
# must export:
#   cmake -DNM=nm -DLIBRARY=lib.so -DDEF_FILES="a.def|b.def" [-DREQUIRED=names.txt]
#         -P check_exports.cmake
# Fails when a listed name is not exported, an unlisted one is, a second name
# does not share its operation's address, or a required name is not listed.
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/MaltorExports.cmake)

string(REPLACE "|" ";" def_files "${DEF_FILES}")
maltor_read_def_files(listed aliases ${def_files})

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" nm_lines "${nm_output}")
set(exported)
foreach(line IN LISTS nm_lines)
  if(line MATCHES "^([0-9a-fA-F]+) [A-Za-z] ([A-Za-z_][A-Za-z0-9_]*)")
    list(APPEND exported "${CMAKE_MATCH_2}")
    set(address_${CMAKE_MATCH_2} "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(problems)
foreach(name IN LISTS listed)
  if(NOT name IN_LIST exported)
    list(APPEND problems "listed but not exported: ${name}")
  endif()
endforeach()
foreach(name IN LISTS exported)
  if(NOT name IN_LIST listed)
    list(APPEND problems "exported but not listed: ${name}")
  endif()
endforeach()
foreach(pair IN LISTS aliases)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 second)
  list(GET pair 1 primary)
  if(DEFINED address_${second} AND NOT "${address_${second}}" STREQUAL "${address_${primary}}")
    list(APPEND problems "${second} is not the same function as ${primary}")
  endif()
endforeach()
if(REQUIRED)
  file(STRINGS "${REQUIRED}" required REGEX "^[A-Za-z_]")
  foreach(name IN LISTS required)
    if(NOT name IN_LIST listed)
      list(APPEND problems "required but not listed: ${name}")
    endif()
  endforeach()
endif()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "${LIBRARY}:\n  ${text}")
endif()
list(LENGTH exported count)
message(STATUS "${LIBRARY}: ${count} names, as listed")
