# Decides whether the tests and the benchmarks are built, from
# MALTOR_BUILD_TESTS and MALTOR_BUILD_BENCH (AUTO, ON or OFF), and finds their
# packages. Sets maltor_build_tests, maltor_build_bench and
# MALTOR_TESTS_REQUIRED (ON when the tests were asked for by name, so that
# none of their packages may be missing). The configure output says which
# parts are built and why.

# OUT_MODE: ON (required), AUTO (when found) or OFF. A project that includes
# this one with add_subdirectory gets neither part unless it asks.
function(maltor_part_mode value OUT_MODE)
  if(value STREQUAL "AUTO")
    if(CMAKE_SOURCE_DIR STREQUAL PROJECT_SOURCE_DIR)
      set(mode AUTO)
    else()
      set(mode OFF)
    endif()
  elseif(value)
    set(mode ON)
  else()
    set(mode OFF)
  endif()
  set(${OUT_MODE} ${mode} PARENT_SCOPE)
endfunction()

# Prints what happens to a part; fails when it was required and not found.
function(maltor_part_report part mode found package option)
  if(mode STREQUAL "OFF")
    message(STATUS "MaltorUSBdrv ${part}: not built (${option}=OFF)")
  elseif(found)
    message(STATUS "MaltorUSBdrv ${part}: built (${package} found)")
  elseif(mode STREQUAL "ON")
    message(FATAL_ERROR "MaltorUSBdrv ${part}: ${option}=ON but ${package} was not found")
  else()
    message(STATUS "MaltorUSBdrv ${part}: skipped, ${package} not found "
                   "(${option}=ON makes it required)")
  endif()
endfunction()

maltor_part_mode("${MALTOR_BUILD_TESTS}" maltor_tests_mode)
maltor_part_mode("${MALTOR_BUILD_BENCH}" maltor_bench_mode)
set(MALTOR_TESTS_REQUIRED OFF)
if(maltor_tests_mode STREQUAL "ON")
  set(MALTOR_TESTS_REQUIRED ON)
endif()

# GoogleTest: the installed package natively; Debian's googletest sources,
# compiled with the same toolchain, for a cross-build.
set(maltor_gtest_found FALSE)
if(NOT maltor_tests_mode STREQUAL "OFF")
  if(CMAKE_CROSSCOMPILING)
    set(MALTOR_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "googletest sources for cross-builds")
    if(EXISTS ${MALTOR_GTEST_SOURCE_DIR}/CMakeLists.txt)
      set(maltor_gtest_found TRUE)
    endif()
  else()
    find_package(GTest QUIET)
    set(maltor_gtest_found ${GTest_FOUND})
  endif()
endif()
maltor_part_report(tests ${maltor_tests_mode} "${maltor_gtest_found}" GoogleTest MALTOR_BUILD_TESTS)
set(maltor_build_tests ${maltor_gtest_found})

set(maltor_benchmark_found FALSE)
if(NOT maltor_bench_mode STREQUAL "OFF")
  find_package(benchmark QUIET)
  set(maltor_benchmark_found ${benchmark_FOUND})
endif()
maltor_part_report(benchmarks ${maltor_bench_mode} "${maltor_benchmark_found}" "Google Benchmark"
                   MALTOR_BUILD_BENCH)
set(maltor_build_bench ${maltor_benchmark_found})
