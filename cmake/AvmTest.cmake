# avm_add_gtest(NAME <exe> DIR <test dir> [LIBS ...] [LABELS ...]
#               [SLOW_SUITES <suite> ...] [SHARDS <n>] [UNITY_SKIP <file> ...]
#               [ENVIRONMENT <VAR=value> ...])
# Builds one GoogleTest executable from every *.cpp in DIR and registers it
# with CTest. Executables labelled "concurrency" are also collected by the
# target `concurrency_tests`, which the ThreadSanitizer build runs.
#
# A large executable can be spread over cores (ctest -j):
#  - each suite named in SLOW_SUITES becomes its own CTest entry
#    <exe>.<suite>, labelled "slow" (a suite stays in one process, so a
#    scene it renders once is rendered once); name the suites that render
#    sites, slowest first. An entry that runs no test fails, so a renamed
#    suite is noticed. Slow entries carry a high COST: ctest -j starts them
#    first.
#  - the remaining tests run as <exe> or, with SHARDS > 1, as SHARDS entries
#    <exe>/<i> split by GoogleTest's own sharding. Shard an executable whose
#    quick part takes long or mostly waits (timers, worker threads): on two
#    cores one long entry otherwise runs alone at the end, and a waiting
#    entry leaves its core idle. A suite that renders its scene once renders
#    it once per shard.
#  - ENVIRONMENT is set for every entry of the executable.
# `ctest -LE slow` then runs the quick part; plain ctest runs everything.
#
# Build cost: most of a test executable's build is GoogleTest's and the
# standard library's headers and the inline code they bring into every
# source. Every test target therefore shares one precompiled header
# (avm_test_pch, below) and compiles its sources in unity batches of
# AVM_TEST_UNITY_BATCH files. A source that cannot share a batch (file-local
# names that clash with another file's) is listed in UNITY_SKIP.
if(NOT TARGET concurrency_tests)
  add_custom_target(concurrency_tests)
endif()

set(AVM_TEST_UNITY_BATCH 8 CACHE STRING "Test sources per unity batch (0: one object per source)")

# The precompiled header of every test target: built once from a stub
# executable with the same flags as the tests, reused by all of them (a
# target built with other flags would get -Winvalid-pch, so Qt's stay out).
if(AVM_BUILD_TESTS AND NOT TARGET avm_test_pch)
  set(pch_stub ${CMAKE_BINARY_DIR}/avm_test_pch_stub.cpp)
  if(NOT EXISTS ${pch_stub})
    file(WRITE ${pch_stub} "int main() { return 0; }\n")
  endif()
  add_executable(avm_test_pch ${pch_stub})
  target_link_libraries(avm_test_pch PRIVATE GTest::gtest Threads::Threads)
  target_precompile_headers(avm_test_pch PRIVATE
    <gtest/gtest.h>
    <algorithm> <array> <atomic> <cfloat> <chrono> <cmath> <cstdint> <cstdio> <cstdlib>
    <cstring> <filesystem> <fstream> <functional> <limits> <map> <memory> <mutex> <random>
    <sstream> <string> <thread> <vector>)
  avm_checking_build_options(avm_test_pch)
endif()

function(avm_add_gtest)
  if(NOT AVM_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;DIR;SHARDS" "LIBS;LABELS;SOURCES;SLOW_SUITES;UNITY_SKIP;ENVIRONMENT" ${ARGN})
  set(srcs ${T_SOURCES})
  if(T_DIR)
    file(GLOB dir_srcs CONFIGURE_DEPENDS ${T_DIR}/*.cpp)
    list(APPEND srcs ${dir_srcs})
  endif()
  if(NOT srcs)
    return()
  endif()
  add_executable(${T_NAME} ${srcs})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  avm_checking_build_options(${T_NAME})
  # Qt's targets compile with -fPIC, the header is built -fPIE: they and
  # their few sources stay as they are.
  if(NOT T_LIBS MATCHES "Qt5::")
    target_precompile_headers(${T_NAME} REUSE_FROM avm_test_pch)
    if(AVM_TEST_UNITY_BATCH GREATER 0)
      set_target_properties(${T_NAME} PROPERTIES UNITY_BUILD ON
                            UNITY_BUILD_BATCH_SIZE ${AVM_TEST_UNITY_BATCH})
      # In a batch every source but the batch file counts as a header, and
      # GCC would flag each fixture of an anonymous namespace.
      target_compile_options(${T_NAME} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
      foreach(skip ${T_UNITY_SKIP})
        set_source_files_properties(${T_DIR}/${skip} TARGET_DIRECTORY ${T_NAME}
                                    PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
      endforeach()
    endif()
  endif()
  if(T_LABELS AND "concurrency" IN_LIST T_LABELS)
    add_dependencies(concurrency_tests ${T_NAME})
  endif()

  set(entries)
  set(slow_labels ${T_LABELS} slow)
  set(rest_filter "")
  foreach(suite ${T_SLOW_SUITES})
    add_test(NAME ${T_NAME}.${suite} COMMAND ${T_NAME} --gtest_filter=${suite}.*)
    set_tests_properties(${T_NAME}.${suite} PROPERTIES LABELS "${slow_labels}" TIMEOUT 900 COST 100
                         FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests from")
    if(T_ENVIRONMENT)
      set_tests_properties(${T_NAME}.${suite} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
    string(APPEND rest_filter ":${suite}.*")
  endforeach()
  set(rest_args)
  if(rest_filter)
    string(SUBSTRING "${rest_filter}" 1 -1 rest_filter)
    set(rest_args --gtest_filter=-${rest_filter})
  endif()

  if(T_SHARDS AND T_SHARDS GREATER 1)
    math(EXPR last "${T_SHARDS} - 1")
    foreach(i RANGE ${last})
      add_test(NAME ${T_NAME}/${i} COMMAND ${T_NAME} ${rest_args})
      set(shard_env ${T_ENVIRONMENT} GTEST_TOTAL_SHARDS=${T_SHARDS} GTEST_SHARD_INDEX=${i})
      set_tests_properties(${T_NAME}/${i} PROPERTIES ENVIRONMENT "${shard_env}")
      list(APPEND entries ${T_NAME}/${i})
    endforeach()
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${rest_args})
    list(APPEND entries ${T_NAME})
    if(T_ENVIRONMENT)
      set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
  endif()

  set_tests_properties(${entries} PROPERTIES TIMEOUT 900)
  if(T_LABELS)
    set_tests_properties(${entries} PROPERTIES LABELS "${T_LABELS}")
  endif()
  # ctest -j starts the long entries first (a fresh tree has no timings yet),
  # so that the short ones fill the cores at the end.
  if("slow" IN_LIST T_LABELS)
    set_tests_properties(${entries} PROPERTIES COST 100)
  endif()
endfunction()
