# vedereve_add_gtest(<name> SOURCES ... LIBS ... [ENVIRONMENT ...] [LABELS ...] [TIMEOUT s])
# One GoogleTest executable registered as one CTest test. Qt runs on its offscreen platform
# unless the test sets QT_QPA_PLATFORM itself.
function(vedereve_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  # gtest_main only supplies main() when the test has none of its own.
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main
                        vedereve_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(_env "QT_QPA_PLATFORM=offscreen" "VEDEREVE_TEST_BINARY_DIR=${CMAKE_CURRENT_BINARY_DIR}"
      ${ARG_ENVIRONMENT})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${_env}"
                       LABELS "${ARG_LABELS}")
endfunction()
