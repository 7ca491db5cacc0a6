# The port set and the netstat lookup. The pure cases run in both builds; the
# server.conf cases only under Wine, where the backslash in the path separates.
set(_port_lookup_sources unit/port_list_test.cpp unit/netstat_parser_test.cpp)
add_executable(port_lookup_tests ${_port_lookup_sources})
target_link_libraries(port_lookup_tests PRIVATE voranex_core GTest::gtest GTest::gtest_main)

if(NOT WIN32)
  voranex_host_gtest(port_lookup_tests)
else()
  voranex_wine_gtest(port_lookup_tests SOURCES ${_port_lookup_sources})

  add_executable(port_list_file_tests win/port_list_file_test.cpp)
  target_link_libraries(port_list_file_tests PRIVATE voranex_core GTest::gtest GTest::gtest_main)
  # The locked-file case probes with fopen, as the reader opens.
  target_compile_definitions(port_list_file_tests PRIVATE
    $<$<CXX_COMPILER_ID:MSVC>:_CRT_SECURE_NO_WARNINGS>)
  voranex_wine_gtest(port_list_file_tests SOURCES win/port_list_file_test.cpp)
endif()
