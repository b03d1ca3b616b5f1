# The fuzz build (R310_FUZZ=ON, make fuzz): clang's libFuzzer drives small
# programs in fuzz/ that feed arbitrary bytes to the frame, decoder, export,
# tool library and parser code. The core libraries are compiled with the
# fuzzer's coverage instrumentation and with AddressSanitizer and
# UndefinedBehaviorSanitizer (the sanitizer settings of R310_SANITIZE), so a
# memory error or undefined behaviour stops the run with the input that
# caused it. Only the fuzz programs link the fuzzer's own main.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "R310_FUZZ needs clang and clang++ (libFuzzer): configure with "
                      "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
endif()
set(R310_SANITIZE ON)
add_compile_options(-fsanitize=fuzzer-no-link)
