find_package(GTest REQUIRED)
include(GoogleTest)

# Test programs are collected in build/tests.
set(QIR_TEST_OUTPUT_DIR ${CMAKE_BINARY_DIR}/tests)

# Every test program that exercises concurrent code joins this target; the
# ThreadSanitizer build builds only these and runs the tests labelled
# "concurrency".
if(NOT TARGET qir_concurrency_tests)
  add_custom_target(qir_concurrency_tests)
endif()

# In optimised builds the test programs' own sources are compiled at -O1:
# the code they test keeps the build's optimisation, and the test code (mostly
# GoogleTest's expansions) compiles in three quarters of the time. The
# precompiled header is compiled alike, so that every test can use it.
set(QIR_TEST_COMPILE_OPTIONS "")
if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Release)$")
  set(QIR_TEST_COMPILE_OPTIONS -O1)
endif()

# Every test program reuses one precompiled header of GoogleTest, GoogleMock
# and the most used standard headers (tests/support/TestPrecompiled.h): they
# are most of what a test source costs to compile. Its owner is an executable,
# so that it is compiled with the same code-generation flags as the tests.
if(NOT TARGET qir_test_pch)
  add_executable(qir_test_pch ${PROJECT_SOURCE_DIR}/tests/support/TestPrecompiled.cpp)
  target_compile_options(qir_test_pch PRIVATE ${QIR_TEST_COMPILE_OPTIONS})
  target_link_libraries(qir_test_pch PRIVATE GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_precompile_headers(qir_test_pch PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/TestPrecompiled.h)
  set_target_properties(qir_test_pch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QIR_TEST_OUTPUT_DIR})
endif()

# qir_add_gtest(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
#
# Builds one GoogleTest program and registers each of its tests with ctest.
# LABELS "concurrency" marks a program whose tests also run under
# ThreadSanitizer (its tests then carry that label only). TIMEOUT (default
# 120 s) bounds every single test. With QIR_TESTS_SCOPE "unsanitized" only
# programs labelled "e2e" are built and registered; the others still exist as
# targets (built on request) so that the lists that configure them need no
# conditions.
function(qir_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(in_scope TRUE)
  if(QIR_TESTS_SCOPE STREQUAL "unsanitized" AND NOT "e2e" IN_LIST T_LABELS)
    set(in_scope FALSE)
  endif()
  if(in_scope)
    add_executable(${T_NAME} ${T_SOURCES})
  else()
    add_executable(${T_NAME} EXCLUDE_FROM_ALL ${T_SOURCES})
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main
                        GTest::gmock Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QIR_TEST_OUTPUT_DIR})
  target_precompile_headers(${T_NAME} REUSE_FROM qir_test_pch)
  target_compile_options(${T_NAME} PRIVATE ${QIR_TEST_COMPILE_OPTIONS})
  # GCC 12 loses the system-header status of code inlined from a
  # precompiled header, and so reports its known false positives of the
  # memory-access warnings inside std::string's operator+ in optimised
  # builds. The tests run under AddressSanitizer, which finds real
  # out-of-bounds accesses; the code under test keeps every warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${T_NAME} PRIVATE -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread -Wno-restrict)
    # Test programs are linked by gold (binutils), about twice as fast as
    # the default linker for these large static links; what is shipped keeps
    # the default linker.
    target_link_options(${T_NAME} PRIVATE -fuse-ld=gold)
  endif()
  # Discovered tests take their properties through generated code that
  # splits lists, so each program carries one label: "concurrency" when
  # given, else the first label.
  set(label "")
  if("concurrency" IN_LIST T_LABELS)
    set(label concurrency)
  elseif(T_LABELS)
    list(GET T_LABELS 0 label)
  endif()
  if(NOT in_scope)
    return()
  endif()
  # Names carry the case's index or its generated name, never its printed
  # bytes: the same test keeps its name in every build directory.
  gtest_discover_tests(${T_NAME}
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${label}")
  if("concurrency" IN_LIST T_LABELS)
    add_dependencies(qir_concurrency_tests ${T_NAME})
  endif()
endfunction()

# qir_leave_header_checks_out_of_all(DIR)
#
# Header checks compile each public header alone; with QIR_TESTS_SCOPE
# "unsanitized" the sanitizer build beside this one has compiled them, so the
# object libraries named *_header_check in DIR and below are built only on
# request.
function(qir_leave_header_checks_out_of_all dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    if(target MATCHES "_header_check$")
      set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    endif()
  endforeach()
  get_property(children DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(child ${children})
    qir_leave_header_checks_out_of_all(${child})
  endforeach()
endfunction()
