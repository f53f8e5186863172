# One helper registers every test executable: GoogleTest cases become CTest
# tests carrying their layer's label, a timeout and, where they need one, a
# resource lock (the fixed manager port, the shared X display).
#
# Cross-built (Windows) tests run through CMAKE_CROSSCOMPILING_EMULATOR
# (scripts/wine-run), both when CTest lists a program's cases and when it
# runs them; GoogleTest is built from Debian's sources, as no build of it for
# the target is packaged. Their main starts Winsock for the whole run
# (tests/support/test_main_win.cpp): tests open sockets without acquiring
# the runtime environment, which starts it in the programs.
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
  # The first program wine runs on a new prefix boots it first.
  set(qel_discovery_timeout 120)
else()
  find_package(GTest REQUIRED)
  set(qel_discovery_timeout 30)
endif()
include(GoogleTest)

set(QEL_TEST_LAYERS runtime protocol client manager model bridge gui e2e qelctl)

# qel_add_test(<name> LAYER <layer> SOURCES <files...> [LIBS <libs...>]
#              [TIMEOUT <seconds>] [PORT_LOCK] [DISPLAY_LOCK] [NO_MAIN])
function(qel_add_test name)
  cmake_parse_arguments(T "PORT_LOCK;DISPLAY_LOCK;NO_MAIN" "LAYER;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LAYER IN_LIST QEL_TEST_LAYERS)
    message(FATAL_ERROR "qel_add_test(${name}): LAYER must be one of ${QEL_TEST_LAYERS}")
  endif()
  if(NOT T_SOURCES)
    message(FATAL_ERROR "qel_add_test(${name}): no SOURCES")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()

  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
  if(NOT T_NO_MAIN AND WIN32)
    target_link_libraries(${name} PRIVATE qel_test_main_win)
  elseif(NOT T_NO_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  qel_set_warnings(${name})

  set(props LABELS ${T_LAYER} TIMEOUT ${T_TIMEOUT})
  # The fixed manager port and the shared X display are one lock: a test that
  # needs both must hold both at once, and a discovered test's property takes
  # a single value.
  if(T_PORT_LOCK OR T_DISPLAY_LOCK)
    list(APPEND props RESOURCE_LOCK qel_port_8899_and_display)
  endif()
  gtest_discover_tests(${name}
    TEST_PREFIX "${T_LAYER}."
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT ${qel_discovery_timeout}
    PROPERTIES ${props})
endfunction()
