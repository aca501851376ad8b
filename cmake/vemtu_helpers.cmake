# Small helpers shared by the folders' CMakeLists.

# vemtu_library(NAME FOLDER DEPS...): a static library of every .cpp directly in FOLDER.
function(vemtu_library name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(NOT sources)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARGN})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()

# vemtu_test_environment(LIST_VAR ENV): sets the environment ENV (a ";" list) on every
# test that gtest_discover_tests named in LIST_VAR (its TEST_LIST). gtest_discover_tests'
# own PROPERTIES splits a list value into separate arguments, so only the first variable
# would arrive; this include file runs after the discovery and sets the whole list.
function(vemtu_test_environment list_var)
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${list_var}_environment.cmake)
  string(REPLACE "\"" "\\\"" env "${ARGN}")
  file(WRITE ${file} "foreach(test IN LISTS ${list_var})\n"
                     "  set_tests_properties(\"\${test}\" PROPERTIES ENVIRONMENT \"${env}\")\n"
                     "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()

# vemtu_unit_test(NAME FOLDER LIBS...): one GoogleTest program of every .cpp in FOLDER.
function(vemtu_unit_test name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} vemtu_test_support GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    TEST_LIST ${name}_tests)
  vemtu_test_environment(${name}_tests "VEMTU_BIN=${CMAKE_BINARY_DIR}/bin;VEMTU_SOURCE=${PROJECT_SOURCE_DIR}")
endfunction()

# Test suites whose name holds "NativeOnly" test the native build in-process: they are
# not registered for the Windows build under wine.
set(VEMTU_WINE_TEST_FILTER "-*NativeOnly*")

# vemtu_scenario_test(NAME FOLDER LIBS...): a native program that runs the built agent.
# Registered once for the native agent and, when VEMTU_WINDOWS_BIN is set, once more
# for the Windows agent under wine (without the NativeOnly suites).
function(vemtu_scenario_test name folder)
  if(WIN32)
    return()
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} vemtu_test_support GTest::gtest_main)
  add_dependencies(${name} Vemtu.EXE)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_SUFFIX .native
    TEST_LIST ${name}_native_tests)
  vemtu_test_environment(${name}_native_tests "VEMTU_BIN=${CMAKE_BINARY_DIR}/bin;VEMTU_SOURCE=${PROJECT_SOURCE_DIR};VEMTU_AGENT_EXE=${CMAKE_BINARY_DIR}/bin/Vemtu.EXE")
  if(VEMTU_WINDOWS_BIN)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_SUFFIX .wine
      TEST_LIST ${name}_wine_tests TEST_FILTER ${VEMTU_WINE_TEST_FILTER})
    vemtu_test_environment(${name}_wine_tests "VEMTU_BIN=${CMAKE_BINARY_DIR}/bin;VEMTU_SOURCE=${PROJECT_SOURCE_DIR};VEMTU_AGENT_EXE=${VEMTU_WINDOWS_BIN}/Vemtu.EXE;VEMTU_AGENT_WRAPPER=${PROJECT_SOURCE_DIR}/scripts/wine-run.sh;VEMTU_WINDOWS_BIN=${VEMTU_WINDOWS_BIN}")
  endif()
endfunction()
