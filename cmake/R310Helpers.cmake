# r310_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# Builds one GoogleTest program and registers it with CTest.
# Tests labelled "core" also run in the sanitizer build; give that label to
# every test that needs neither a window nor long real-time waits.
function(r310_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;R310_BUILD_DIR=${CMAKE_BINARY_DIR};R310_RECORDS=sqlite:${CMAKE_BINARY_DIR}/tests/records.sqlite")
endfunction()

# r310_add_benchmark(NAME name SOURCES ... [LIBS ...])
# Benchmarks print figures; they are programs, never tests.
function(r310_add_benchmark)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS})
endfunction()
