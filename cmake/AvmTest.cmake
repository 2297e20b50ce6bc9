# avm_add_gtest(NAME <exe> DIR <test dir> [LIBS ...] [LABELS ...]
#               [SLOW_SUITES <suite> ...] [SHARDS <n>])
# Builds one GoogleTest executable from every *.cpp in DIR and registers it
# with CTest. Executables labelled "concurrency" are also collected by the
# target `concurrency_tests`, which the ThreadSanitizer build runs.
#
# A large executable can be spread over cores (ctest -j):
#  - each suite named in SLOW_SUITES becomes its own CTest entry
#    <exe>.<suite>, labelled "slow" (a suite stays in one process, so a
#    scene it renders once is rendered once); name the suites that render
#    sites, slowest first. An entry that runs no test fails, so a renamed
#    suite is noticed.
#  - the remaining tests run as <exe> or, with SHARDS > 1, as SHARDS entries
#    <exe>/<i> split by GoogleTest's own sharding.
# `ctest -LE slow` then runs the quick part; plain ctest runs everything.
if(NOT TARGET concurrency_tests)
  add_custom_target(concurrency_tests)
endif()

function(avm_add_gtest)
  if(NOT AVM_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;DIR;SHARDS" "LIBS;LABELS;SOURCES;SLOW_SUITES" ${ARGN})
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
  if(T_LABELS AND "concurrency" IN_LIST T_LABELS)
    add_dependencies(concurrency_tests ${T_NAME})
  endif()

  set(entries)
  set(slow_labels ${T_LABELS} slow)
  set(rest_filter "")
  foreach(suite ${T_SLOW_SUITES})
    add_test(NAME ${T_NAME}.${suite} COMMAND ${T_NAME} --gtest_filter=${suite}.*)
    set_tests_properties(${T_NAME}.${suite} PROPERTIES LABELS "${slow_labels}" TIMEOUT 900
                         FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests from")
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
      set_tests_properties(${T_NAME}/${i} PROPERTIES
                           ENVIRONMENT "GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${i}")
      list(APPEND entries ${T_NAME}/${i})
    endforeach()
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${rest_args})
    list(APPEND entries ${T_NAME})
  endif()

  set_tests_properties(${entries} PROPERTIES TIMEOUT 900)
  if(T_LABELS)
    set_tests_properties(${entries} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
