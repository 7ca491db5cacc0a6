# service: the command line (portable), the service record, SCM operations and runtime
# (Windows), and the voranexmg executable.
target_sources(voranex_core PRIVATE service/command_line.cpp)

if(WIN32)
  target_sources(voranex_win PRIVATE
    service/error_text.cpp
    service/service_manager.cpp
    service/service_runtime.cpp
  )
  add_executable(voranexmg service/main.cpp)
  target_link_libraries(voranexmg PRIVATE voranex_win)
  if(MINGW)
    target_link_options(voranexmg PRIVATE -municode)
  endif()
endif()
if(MSVC)
  # The help text's Korean is written as it reads, in UTF-8.
  set_source_files_properties(service/command_line.cpp PROPERTIES COMPILE_OPTIONS /utf-8)
endif()
