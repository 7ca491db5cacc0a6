# service: the option parser in both builds; under Wine the error text, the SCM
# operations, the runtime behind its probe service, the executable and the console run.
target_sources(core_tests PRIVATE unit/command_line_test.cpp)
if(MSVC)
  # The help text's Korean is written as it reads, in UTF-8.
  set_source_files_properties(unit/command_line_test.cpp PROPERTIES COMPILE_OPTIONS /utf-8)
endif()
if(NOT WIN32)
  # The status report's rules, with the English texts of the executable's message table.
  target_sources(core_tests PRIVATE unit/status_test.cpp)
  target_compile_definitions(core_tests PRIVATE
    VORANEX_MESSAGE_TABLE="${PROJECT_SOURCE_DIR}/src/common/event_messages.mc")
  return()
endif()
voranex_wine_gtest(core_tests SOURCES unit/command_line_test.cpp)

# The SCM tests share a prefix of their own and take turns in it: they install and
# remove services by fixed names.
set(VORANEX_SERVICE_PREFIX ${CMAKE_BINARY_DIR}/wine/service)
add_test(NAME service.prefix.start
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix start ${VORANEX_SERVICE_PREFIX})
add_test(NAME service.prefix.stop
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix stop ${VORANEX_SERVICE_PREFIX})
set_tests_properties(service.prefix.start PROPERTIES FIXTURES_SETUP service_prefix)
set_tests_properties(service.prefix.stop PROPERTIES FIXTURES_CLEANUP service_prefix)

function(voranex_service_gtest target)
  gtest_add_tests(TARGET ${target} SOURCES ${ARGN} TEST_LIST cases)
  set_tests_properties(${cases} PROPERTIES
    ENVIRONMENT "WINEPREFIX=${VORANEX_SERVICE_PREFIX};WINEDEBUG=-all"
    FIXTURES_REQUIRED service_prefix
    RESOURCE_LOCK service_scm
    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endfunction()

set(_service_util win/service_test_util.cpp win/win_test_util.cpp)

# The weak-permission check needs no SCM: descriptors come from SDDL.
add_executable(permission_tests win/weak_permissions_test.cpp)
target_link_libraries(permission_tests PRIVATE voranex_win GTest::gtest GTest::gtest_main)
voranex_wine_gtest(permission_tests SOURCES win/weak_permissions_test.cpp)

voranex_test_program(service_runtime_probe win/service_runtime_probe.cpp)
voranex_test_program(service_stub win/service_stub.cpp)

set(_service_sources
  win/service_error_text_test.cpp win/service_install_test.cpp win/service_runtime_test.cpp)
add_executable(service_tests ${_service_sources} ${_service_util})
target_link_libraries(service_tests PRIVATE voranex_win GTest::gtest GTest::gtest_main)
add_dependencies(service_tests service_runtime_probe)
voranex_service_gtest(service_tests ${_service_sources})

add_executable(voranexmg_exe_tests win/service_exe_test.cpp ${_service_util})
target_link_libraries(voranexmg_exe_tests PRIVATE voranex_win version GTest::gtest GTest::gtest_main)
target_compile_definitions(voranexmg_exe_tests PRIVATE
  VORANEX_VERSION="${PROJECT_VERSION}" VORANEX_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  VORANEX_VERSION_MINOR=${PROJECT_VERSION_MINOR} VORANEX_VERSION_PATCH=${PROJECT_VERSION_PATCH})
add_dependencies(voranexmg_exe_tests voranexmg voranexsv service_stub)
voranex_service_gtest(voranexmg_exe_tests win/service_exe_test.cpp)
set_tests_properties(VoranexmgExeTest.SlowStartThatNeverRunsEndsInWaitTimeout
  PROPERTIES LABELS slow TIMEOUT 150)
set_tests_properties(VoranexmgExeTest.AServerThatNeverListensIsToldOfAndOneThatListensIsNot
  PROPERTIES LABELS slow TIMEOUT 360)

# From the shell, -1 is 255; and nothing is printed.
add_test(NAME service.no_arguments_exit_255
  COMMAND sh -c "out=$(\"$0\" \"$1\" 2>&1); rc=$?; echo \"exit $rc, output [$out]\"; [ $rc -eq 255 ] && [ -z \"$out\" ]"
          ${VORANEX_WINE_LOADER} $<TARGET_FILE:voranexmg>)
set_tests_properties(service.no_arguments_exit_255 PROPERTIES
  ENVIRONMENT "WINEPREFIX=${VORANEX_SERVICE_PREFIX};WINEDEBUG=-all"
  FIXTURES_REQUIRED service_prefix)

# A Korean Windows: Wine in the Korean locale.
add_test(NAME service.status_in_korean
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win/status_in_korean.sh
          ${VORANEX_WINE_LOADER} $<TARGET_FILE:voranexmg>)
set_tests_properties(service.status_in_korean PROPERTIES
  ENVIRONMENT "WINEPREFIX=${VORANEX_SERVICE_PREFIX};WINEDEBUG=-all"
  FIXTURES_REQUIRED service_prefix RESOURCE_LOCK service_scm)

# The console run needs a console window, and so a display of its own.
set(VORANEX_CONSOLE_PREFIX ${CMAKE_BINARY_DIR}/wine/console)
add_test(NAME service.console_run
  COMMAND xvfb-run -a ${CMAKE_CURRENT_SOURCE_DIR}/win/service_console_run.sh
          ${CMAKE_BINARY_DIR}/bin ${VORANEX_CONSOLE_PREFIX})
add_test(NAME service.console_run.stop
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix stop ${VORANEX_CONSOLE_PREFIX})
set_tests_properties(service.console_run PROPERTIES
  LABELS slow TIMEOUT 240 FIXTURES_REQUIRED service_console)
set_tests_properties(service.console_run.stop PROPERTIES FIXTURES_CLEANUP service_console)
# ctest builds nothing; the console run's programs come with the test programs.
voranex_test_program(console_screen tools/console_screen.cpp)
add_dependencies(voranexmg_exe_tests svcctl port_holder netstat_standin console_screen)
