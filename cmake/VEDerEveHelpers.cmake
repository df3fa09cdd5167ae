# vedereve_add_gtest(<name> SOURCES ... LIBS ... [ENVIRONMENT ...] [LABELS ...] [TIMEOUT s])
# One GoogleTest executable registered as one CTest test, with the shared test main (its own
# shared-memory prefix and settings file per run). Qt runs on its offscreen platform unless the
# test sets QT_QPA_PLATFORM itself.
function(vedereve_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} vedereve_test_support GTest::gtest
                        GTest::gmock vedereve_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(_env "QT_QPA_PLATFORM=offscreen" ${ARG_ENVIRONMENT})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${_env}"
                       LABELS "${ARG_LABELS}")
endfunction()

# vedereve_busgen(<members|proxy> <output header>): generates a C++ view of the object's bus
# interface from the interface XML (tools/busgen) when either changes.
function(vedereve_busgen mode output)
  add_custom_command(OUTPUT ${output}
    COMMAND vedereve-busgen ${mode} ${VEDEREVE_CONTRACT} ${output}
    DEPENDS vedereve-busgen ${VEDEREVE_CONTRACT}
    COMMENT "Generating ${mode} from the interface XML"
    VERBATIM)
endfunction()
