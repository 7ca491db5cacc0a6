# The port set and the netstat port-owner lookup.
target_sources(voranex_core PRIVATE config/port_list.cpp watchdog/netstat_parser.cpp)

if(VORANEX_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(RapidJSON INTERFACE
    -fsanitize-ignorelist=${CMAKE_CURRENT_SOURCE_DIR}/config/rapidjson.ignorelist)
endif()

# server.conf is opened with fopen, which MSVC's runtime flags as deprecated; under /WX
# that warning would stop the build.
if(MSVC)
  set_source_files_properties(config/port_list.cpp PROPERTIES
    COMPILE_DEFINITIONS _CRT_SECURE_NO_WARNINGS)
endif()
