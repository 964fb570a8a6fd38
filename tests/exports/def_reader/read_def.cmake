# Prints what the build reads from module-definition files:
#   cmake -DDEF_FILES="a.def|b.def" -P read_def.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/MaltorExports.cmake)
string(REPLACE "|" ";" def_files "${DEF_FILES}")
maltor_read_def_files(names aliases ${def_files})
list(JOIN names "," names)
list(JOIN aliases "," aliases)
message("names [${names}] aliases [${aliases}]")
