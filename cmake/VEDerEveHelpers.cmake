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

# vedereve_busgen(<members|proxy|events> <output header> [<export header> <export macro>]):
# generates a C++ view of the bus interfaces from the interface XML (tools/busgen) when either
# changes. The events' class of a shared library takes the library's export macro.
function(vedereve_busgen mode output)
  add_custom_command(OUTPUT ${output}
    COMMAND vedereve-busgen ${mode} ${VEDEREVE_CONTRACT} ${output} ${ARGN}
    DEPENDS vedereve-busgen ${VEDEREVE_CONTRACT}
    COMMENT "Generating ${mode} from the interface XML"
    VERBATIM)
endfunction()
