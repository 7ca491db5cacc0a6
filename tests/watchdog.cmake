# The watchdog: its unit cases in both builds; under Wine the test-only programs, the
# handle soak and the end-to-end recovery scenario.
add_executable(watchdog_tests unit/watchdog_test.cpp)
if(WIN32)
  target_link_libraries(watchdog_tests PRIVATE voranex_win GTest::gtest GTest::gtest_main)
  voranex_wine_gtest(watchdog_tests SOURCES unit/watchdog_test.cpp)
else()
  target_link_libraries(watchdog_tests PRIVATE voranex_core GTest::gtest GTest::gtest_main)
  voranex_host_gtest(watchdog_tests)
  return()
endif()

voranex_test_program(svcctl tools/svcctl.cpp)
# The demo's Event Log records, worded by the executable's own message table.
voranex_test_program(event_records tools/event_records.cpp)

# The stand-ins for the watched program, for a stray port holder and for netstat.
voranex_test_program(voranexsv standins/voranexsv.cpp)
voranex_test_program(port_holder standins/port_holder.cpp)
target_link_libraries(voranexsv PRIVATE ws2_32)
target_link_libraries(port_holder PRIVATE ws2_32)
# In a folder of its own, so that it takes over "netstat" only where a test puts that
# folder on the search path.
voranex_test_program(netstat_standin standins/netstat_standin.cpp)
set_target_properties(netstat_standin PROPERTIES
  OUTPUT_NAME netstat
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/netstat-standin)

# The bounded restart command, with a port holder as the command that hangs; the process
# identity and the listener tables.
add_executable(watchdog_platform_tests win/windows_platform_test.cpp win/win_test_util.cpp
  win/service_test_util.cpp)
target_link_libraries(watchdog_platform_tests PRIVATE voranex_win GTest::gtest GTest::gtest_main
  ws2_32)
target_include_directories(watchdog_platform_tests PRIVATE standins)
add_dependencies(watchdog_platform_tests port_holder)
voranex_wine_gtest(watchdog_platform_tests SOURCES win/windows_platform_test.cpp)

# Two hundred recovery cycles with real snapshots and commands; minutes under Wine.
# It starts some ten processes a second, and beside it Wine's services.exe loses
# control replies: a stop whose service process ends right after reporting "stopped"
# comes back as "Broken pipe", and a service start can outlast its 10-second pipe
# timeout. So it does not run beside the SCM tests.
add_executable(watchdog_soak_tests win/watchdog_soak_test.cpp win/win_test_util.cpp)
target_link_libraries(watchdog_soak_tests PRIVATE voranex_win GTest::gtest GTest::gtest_main)
add_dependencies(watchdog_soak_tests netstat_standin voranexsv)
voranex_wine_gtest(watchdog_soak_tests SOURCES win/watchdog_soak_test.cpp LABELS slow
  LOCKS service_scm)
set_tests_properties(WatchdogSoak.TwoHundredRecoveryCyclesLeaveTheHandleCountFlat
  PROPERTIES TIMEOUT 1800)

# The recovery scenario and its measurements run in a prefix of their own: they install
# the watched service, which no other test may see.
add_library(recovery_scenario_support STATIC
  e2e/recovery_scenario_support.cpp win/service_test_util.cpp win/win_test_util.cpp)
target_include_directories(recovery_scenario_support PUBLIC e2e win standins)
target_link_libraries(recovery_scenario_support PUBLIC voranex_win GTest::gtest ws2_32)
voranex_test_program(recovery_scenario_host e2e/recovery_scenario_host.cpp)
set(_scenario_programs recovery_scenario_host voranexsv port_holder netstat_standin)

add_executable(recovery_scenario_tests e2e/recovery_scenario_test.cpp)
target_link_libraries(recovery_scenario_tests PRIVATE recovery_scenario_support GTest::gtest_main)
add_dependencies(recovery_scenario_tests ${_scenario_programs})
set(_scenario_prefix ${CMAKE_BINARY_DIR}/wine/recovery-scenario)
# One ctest test runs every scenario of the program in turn, in the one prefix.
add_test(NAME RecoveryScenarios
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/scenario-prefix run ${_scenario_prefix} 480
    ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:recovery_scenario_tests>)
# Should ctest itself end the run, the cleanup still ends the prefix's processes.
add_test(NAME recovery_scenario.prefix.stop
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/scenario-prefix stop ${_scenario_prefix})
set_tests_properties(RecoveryScenarios PROPERTIES
  LABELS slow TIMEOUT 720 FIXTURES_REQUIRED recovery_scenario_prefix)
set_tests_properties(recovery_scenario.prefix.stop PROPERTIES
  LABELS slow FIXTURES_CLEANUP recovery_scenario_prefix)

add_executable(recovery_measurement e2e/recovery_measurement.cpp)
target_link_libraries(recovery_measurement PRIVATE recovery_scenario_support GTest::gtest_main)
add_dependencies(recovery_measurement ${_scenario_programs})
add_custom_target(recovery_measurements
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/scenario-prefix run
    ${CMAKE_BINARY_DIR}/wine/recovery-measurement 900
    ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:recovery_measurement>
  DEPENDS recovery_measurement
  USES_TERMINAL
  COMMENT "Measuring the watchdog under Wine in a prefix of its own")
