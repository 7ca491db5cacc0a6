# The watchdog thread and its recovery cycle. On Windows it sits with the platform that
# it defaults to; the portable build has no platform of its own, and tests bring one.
if(WIN32)
  target_sources(voranex_win PRIVATE watchdog/watchdog.cpp watchdog/restart_loop.cpp
    watchdog/listener_check.cpp watchdog/server_identity.cpp watchdog/windows_platform.cpp)
else()
  target_sources(voranex_core PRIVATE watchdog/watchdog.cpp watchdog/restart_loop.cpp
    watchdog/listener_check.cpp watchdog/server_identity.cpp watchdog/system_platform_none.cpp)
endif()
