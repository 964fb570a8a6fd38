# GoogleTest for the test programs (MaltorOptionalParts.cmake found it). A
# native build uses the installed package; a cross-build compiles Debian's
# googletest sources with the same toolchain.
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${MALTOR_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(library gtest gtest_main gmock gmock_main)
    if(TARGET ${library} AND NOT TARGET GTest::${library})
      add_library(GTest::${library} ALIAS ${library})
    endif()
  endforeach()
endif()
include(GoogleTest)

# Registers a test program with ctest: one ctest test per case natively; the
# whole program as one test under an emulator, where every process start costs
# seconds, and in the sanitizer build, where it costs a sixth of a second and
# one process per case would make the suite fifty times slower.
function(maltor_add_gtest target)
  if(CMAKE_CROSSCOMPILING OR MALTOR_SANITIZE)
    add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
    set_tests_properties(${target} PROPERTIES TIMEOUT 300)
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
  endif()
endfunction()

# The LD_PRELOAD value for programs that run against umockdev's emulated
# devices: its preload library, after the sanitizer runtime, which insists on
# being loaded first.
function(maltor_umockdev_preload out_var)
  set(preload libumockdev-preload.so.0)
  if(MALTOR_SANITIZE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(preload "${asan_runtime}:${preload}")
  endif()
  set(${out_var} "${preload}" PARENT_SCOPE)
endfunction()
