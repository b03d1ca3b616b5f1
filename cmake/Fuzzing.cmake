# The fuzz targets (R310_FUZZ=ON; make test's tree, make fuzz): clang's
# libFuzzer drives small programs in fuzz/ that feed arbitrary bytes to the
# frame, decoder, export, tool library and parser code. The whole tree is
# built with AddressSanitizer and UndefinedBehaviorSanitizer (R310_SANITIZE),
# so a memory error or undefined behaviour stops the run with the input that
# caused it; the libraries the fuzz targets reach also get the fuzzer's
# coverage instrumentation (r310_fuzz_coverage in fuzz/), and only the fuzz
# programs link the fuzzer's own main.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "R310_FUZZ needs clang and clang++ (libFuzzer): configure with "
                      "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
endif()
set(R310_SANITIZE ON)
