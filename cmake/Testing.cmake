# sc_add_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT seconds] [QT])
# One executable per test program, run by CTest as one test. GoogleTest programs get
# gtest_main; QT marks a Qt Test program (it provides its own main through QTEST_MAIN).
# Every test runs with the offscreen Qt platform and a private runtime folder.
function(sc_add_test name)
  cmake_parse_arguments(ARG "QT" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_QT)
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main ${ARG_LIBS})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  math(EXPR qt_timeout_ms "${ARG_TIMEOUT} * 1000")
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    LABELS "${ARG_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTEST_FUNCTION_TIMEOUT=${qt_timeout_ms};${ARG_ENVIRONMENT}")
endfunction()
