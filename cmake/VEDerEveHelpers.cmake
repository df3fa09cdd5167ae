# vedereve_glob_library(<target> LIBS ... [PRIVATE_LIBS ...]): a static library of all sources in
# the calling folder.
function(vedereve_glob_library target)
  cmake_parse_arguments(ARG "" "" "LIBS;PRIVATE_LIBS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER _sources INCLUDE REGEX "\\.cpp$")
  if(NOT _sources)
    # Nothing compiled here yet: keep the name usable for the layers above.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${ARG_LIBS})
    return()
  endif()
  file(GLOB _all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  add_library(${target} STATIC ${_all})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC ${ARG_LIBS} PRIVATE vedereve_warnings ${ARG_PRIVATE_LIBS})
endfunction()

# Adds every immediate subfolder of the calling folder that has a CMakeLists.txt, in name order.
function(vedereve_add_child_folders)
  file(GLOB _children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _children)
  foreach(_child ${_children})
    if(IS_DIRECTORY ${_child} AND EXISTS ${_child}/CMakeLists.txt)
      add_subdirectory(${_child})
    endif()
  endforeach()
endfunction()

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
