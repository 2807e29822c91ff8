# tarvex_core_library(NAME DEPS...): one static library per source folder, taking every
# .cpp of the folder and its sub-folders, exported as tarvex::NAME. Core libraries must not
# link Qt.
function(tarvex_core_library name)
  file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _srcs)
    # A folder whose code has not landed yet still gives a linkable target.
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/empty.cpp "")
    set(_srcs ${CMAKE_CURRENT_BINARY_DIR}/empty.cpp)
  endif()
  add_library(tarvex_${name} STATIC ${_srcs})
  add_library(tarvex::${name} ALIAS tarvex_${name})
  set_target_properties(tarvex_${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_link_libraries(tarvex_${name} PUBLIC tarvex_options ${ARGN})
endfunction()

# tarvex_test_suite(NAME DEPS...): one GoogleTest executable per test folder, taking the .cpp
# files of its sub-folders too; headers at the folder's top are shared by all of them.
function(tarvex_test_suite name)
  file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(tarvex_${name}_tests ${_srcs})
  target_include_directories(tarvex_${name}_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(tarvex_${name}_tests PRIVATE tarvex_options tarvex_test_support ${ARGN}
    GTest::gtest GTest::gtest_main)
  target_compile_definitions(tarvex_${name}_tests PRIVATE
    TARVEX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TARVEX_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
  gtest_discover_tests(tarvex_${name}_tests
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1" TIMEOUT 300)
endfunction()
