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

# qir_add_gtest(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
#
# Builds one GoogleTest program and registers each of its tests with ctest.
# LABELS "concurrency" marks a program whose tests also run under
# ThreadSanitizer (its tests then carry that label only). TIMEOUT (default
# 120 s) bounds every single test.
function(qir_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main
                        GTest::gmock Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QIR_TEST_OUTPUT_DIR})
  # Discovered tests take their properties through generated code that
  # splits lists, so each program carries one label: "concurrency" when
  # given, else the first label.
  set(label "")
  if("concurrency" IN_LIST T_LABELS)
    set(label concurrency)
  elseif(T_LABELS)
    list(GET T_LABELS 0 label)
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
