# Warnings are errors in our own code. Everything compiled by this tree is our
# own code; third-party libraries come prebuilt from the system.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
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
