# Adds tests/support once, from whichever test folder needs it first.
if(NOT TARGET sc_test_support_marker)
  add_custom_target(sc_test_support_marker)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/support ${CMAKE_BINARY_DIR}/tests/support)
endif()
