# Precompiled headers: the Qt, standard library and GoogleTest headers nearly
# every file includes are parsed once per target (once for all tests) instead
# of once per file. A compiler cache cannot store builds that use them, so a
# build through ccache (CMAKE_CXX_COMPILER_LAUNCHER) leaves them off unless
# asked for.
if(CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache")
  set(r310_pch_default OFF)
else()
  set(r310_pch_default ON)
endif()
option(R310_PCH "Precompile the common Qt and standard headers of each target" ${r310_pch_default})

set(R310_PCH_CORE
  <QByteArray> <QCoreApplication> <QDateTime> <QDir> <QElapsedTimer> <QFile> <QFileInfo>
  <QJsonArray> <QJsonDocument> <QJsonObject> <QList> <QLocale> <QObject> <QPointer>
  <QRegularExpression> <QString> <QStringList> <QTextStream> <QTimer> <QVariant>
  <algorithm> <array> <chrono> <cstdint> <functional> <map> <memory> <mutex> <optional>
  <set> <string> <utility> <vector>)
set(R310_PCH_WIDGETS
  <QApplication> <QCheckBox> <QComboBox> <QGridLayout> <QLabel> <QLineEdit> <QMainWindow>
  <QMessageBox> <QProgressBar> <QPushButton> <QRadioButton> <QTabWidget> <QWidget>)

# r310_precompile(TARGET [WIDGETS]): the common headers for one library or program.
function(r310_precompile target)
  if(NOT R310_PCH)
    return()
  endif()
  cmake_parse_arguments(P "WIDGETS" "" "" ${ARGN})
  set(headers ${R310_PCH_CORE})
  if(P_WIDGETS)
    list(APPEND headers ${R310_PCH_WIDGETS})
  endif()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

# The test programs share one set of precompiled headers (Qt Core, the
# standard library, GoogleTest; the window's tests Qt Widgets as well), built
# once by an empty program of their own with the switches a test program gets.
function(r310_test_precompiled_headers target widgets)
  if(NOT R310_PCH)
    return()
  endif()
  set(owner r310_test_pch)
  set(headers ${R310_PCH_CORE} <gtest/gtest.h>)
  set(libs Qt6::Core GTest::gtest)
  if(widgets)
    set(owner r310_ui_test_pch)
    list(APPEND headers ${R310_PCH_WIDGETS})
    list(APPEND libs Qt6::Widgets)
  endif()
  if(NOT TARGET ${owner})
    file(WRITE ${CMAKE_BINARY_DIR}/${owner}.cpp "int main() { return 0; }\n")
    add_executable(${owner} ${CMAKE_BINARY_DIR}/${owner}.cpp)
    set_target_properties(${owner} PROPERTIES AUTOMOC OFF RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${owner} PRIVATE ${libs})
    target_precompile_headers(${owner} PRIVATE ${headers})
  endif()
  target_precompile_headers(${target} REUSE_FROM ${owner})
endfunction()

# r310_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# Builds one GoogleTest program and registers it with CTest.
# Tests labelled "core" also run in the sanitizer build; give that label to
# every test that needs neither a window nor long real-time waits. The target
# r310_core_tests builds exactly those (the sanitizer build builds no more).
function(r310_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} Qt6::Core GTest::gtest GTest::gtest_main)
  set(widgets OFF)
  if("r310_ui" IN_LIST T_LIBS OR "r310_ui_rig" IN_LIST T_LIBS)
    set(widgets ON)
  endif()
  # A program with C sources (the plain C caller of VykTool) keeps its own headers.
  set(c_sources ${T_SOURCES})
  list(FILTER c_sources INCLUDE REGEX "\\.c$")
  if(NOT c_sources)
    r310_test_precompiled_headers(${T_NAME} ${widgets})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;R310_BUILD_DIR=${CMAKE_BINARY_DIR};R310_RECORDS=sqlite:${CMAKE_BINARY_DIR}/tests/records.sqlite")
  if("core" IN_LIST T_LABELS)
    r310_core_test_needs(${T_NAME})
  endif()
endfunction()

# r310_core_test_needs(TARGET...): targets a test labelled "core" runs.
function(r310_core_test_needs)
  if(NOT TARGET r310_core_tests)
    add_custom_target(r310_core_tests)
  endif()
  add_dependencies(r310_core_tests ${ARGN})
endfunction()

# r310_add_benchmark(NAME name SOURCES ... [LIBS ...])
# Benchmarks print figures; they are programs, never tests. They are built on
# request (make bench, the target r310_benchmarks), not with every build.
function(r310_add_benchmark)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} EXCLUDE_FROM_ALL ${B_SOURCES})
  set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS})
  if(NOT TARGET r310_benchmarks)
    add_custom_target(r310_benchmarks)
  endif()
  add_dependencies(r310_benchmarks ${B_NAME})
endfunction()
