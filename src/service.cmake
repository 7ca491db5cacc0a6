# service: the command line (portable), the service record, SCM operations and runtime
# (Windows), and the voranexmg executable.
target_sources(voranex_core PRIVATE service/command_line.cpp)

if(WIN32)
  target_sources(voranex_win PRIVATE
    service/error_text.cpp
    service/service_manager.cpp
    service/service_runtime.cpp
  )
  # The resources include the message table, which the message compiler writes first.
  add_executable(voranexmg service/main.cpp service/voranexmg.rc)
  set_source_files_properties(service/voranexmg.rc PROPERTIES
    OBJECT_DEPENDS "${VORANEX_GENERATED_DIR}/event_messages.rc;${VORANEX_GENERATED_DIR}/MSG00409.bin")
  target_link_libraries(voranexmg PRIVATE voranex_win)
  if(MINGW)
    target_link_options(voranexmg PRIVATE -municode)
  endif()
endif()
if(MSVC)
  # The help text's Korean is written as it reads, in UTF-8.
  set_source_files_properties(service/command_line.cpp PROPERTIES COMPILE_OPTIONS /utf-8)
endif()
