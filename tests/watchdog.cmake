# The watchdog: its unit cases in both builds; under Wine the test-only programs, the
# handle soak and the end-to-end recovery scenario.
add_executable(watchdog_tests unit/watchdog_test.cpp)
if(WIN32)
  target_link_libraries(watchdog_tests PRIVATE voranex_win GTest::gtest GTest::gtest_main)
  voranex_wine_gtest(watchdog_tests SOURCES unit/watchdog_test.cpp)
else()
  target_link_libraries(watchdog_tests PRIVATE voranex_core GTest::gtest GTest::gtest_main)
  voranex_host_gtest(watchdog_tests)
endif()
