# One helper registers every test executable: GoogleTest cases become CTest
# tests carrying their layer's label, a timeout and, where they need one, a
# resource lock (the fixed manager port, the shared X display).
find_package(GTest REQUIRED)
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
  if(NOT T_NO_MAIN)
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
    DISCOVERY_TIMEOUT 30
    PROPERTIES ${props})
endfunction()
