# Warnings are errors in our own code. Everything compiled by this tree is our
# own code; third-party libraries come prebuilt from the system.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
endif()

# Unity builds (CMAKE_UNITY_BUILD, as scripts/test.sh builds) compile a
# target's sources a few at a time in one file, so each file's own unnamed
# namespace ends up inside an included file, where GCC warns about every
# class that uses it; the warning means nothing there. Targets whose sources
# define the same names (components) turn unity builds off.
if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-subobject-linkage>)
endif()

if(QIR_SANITIZE AND QIR_TSAN)
  message(FATAL_ERROR "QIR_SANITIZE and QIR_TSAN cannot be combined")
endif()

if(QIR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(QIR_SANITIZER_BUILD=1)
endif()

if(QIR_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  add_compile_definitions(QIR_SANITIZER_BUILD=1 QIR_TSAN_BUILD=1)
endif()

# libFuzzer builds: every library gets coverage instrumentation, so that the
# fuzzers are guided through our code and not only through their own file.
if(QIR_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# GCC 12 takes the copies inside inlined std::string concatenation for
# overlapping ones at -O3 and warns (-Wrestrict), on code as plain as
# `"#" + std::to_string(n)`: a known fault of that compiler. Release builds
# with it leave that one warning out, so that no new concatenation anywhere
# can fail scripts/bench.sh; every other build keeps it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options($<$<CONFIG:Release,MinSizeRel>:-Wno-restrict>)
endif()

# Some of GCC 12's warnings (-Wrestrict on inlined std::string code, among
# others) appear only at -O3, the optimisation of Release builds
# (scripts/bench.sh), while the test builds use -O2 and below. Sources that
# once had such a warning are compiled a second time at -O3, without debug
# information, as part of every other unsanitised GCC build, so that the
# warning cannot come back unseen:
#
#   qir_release_warning_check(NAME name SOURCES ... LIBS ...)
#
# builds the object library `name` (linked nowhere) from SOURCES with the
# usage requirements of LIBS.
function(qir_release_warning_check)
  cmake_parse_arguments(C "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$"
     OR QIR_SANITIZE OR QIR_TSAN OR QIR_FUZZ)
    return()
  endif()
  add_library(${C_NAME} OBJECT ${C_SOURCES})
  target_link_libraries(${C_NAME} PRIVATE ${C_LIBS})
  target_compile_options(${C_NAME} PRIVATE -O3 -g0)
  target_compile_definitions(${C_NAME} PRIVATE NDEBUG)
endfunction()
