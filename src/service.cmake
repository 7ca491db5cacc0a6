# service: the command line (portable), the service record, SCM operations and runtime
# (Windows), and the voranexmg executable.
target_sources(voranex_core PRIVATE service/command_line.cpp)
# The status report's rules go with the watchdog's seam, which they read through.
if(WIN32)
  target_sources(voranex_win PRIVATE service/status.cpp service/status_win.cpp)
else()
  target_sources(voranex_core PRIVATE service/status.cpp)
endif()

if(WIN32)
  target_sources(voranex_win PRIVATE
    service/error_text.cpp
    service/service_manager.cpp
    service/service_runtime.cpp
    service/weak_permissions.cpp
  )
  # The resources: the version and the manifest, filled in with the project's version,
  # and the message table, which the message compiler writes first.
  configure_file(service/voranexmg.rc.in ${VORANEX_GENERATED_DIR}/voranexmg.rc @ONLY)
  configure_file(service/voranexmg.manifest.in ${VORANEX_GENERATED_DIR}/voranexmg.manifest @ONLY)
  add_executable(voranexmg service/main.cpp ${VORANEX_GENERATED_DIR}/voranexmg.rc)
  set_source_files_properties(${VORANEX_GENERATED_DIR}/voranexmg.rc PROPERTIES
    OBJECT_DEPENDS "${VORANEX_GENERATED_DIR}/event_messages.rc;${VORANEX_GENERATED_DIR}/MSG00409.bin;${VORANEX_GENERATED_DIR}/MSG00412.bin;${VORANEX_GENERATED_DIR}/voranexmg.manifest")
  # What ships, and what the tests run, is the stripped executable; its debug
  # information goes to voranexmg.exe.debug beside it, which the executable names.
  # Each rewrite of a PE file stamps the time into its header unless SOURCE_DATE_EPOCH
  # says otherwise; 0 is what the linker writes with --no-insert-timestamp.
  if(MINGW)
    set(_exe $<TARGET_FILE:voranexmg>)
    set(_fixed_time ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0)
    add_custom_command(TARGET voranexmg POST_BUILD
      COMMAND ${_fixed_time} ${CMAKE_OBJCOPY} --only-keep-debug ${_exe} ${_exe}.debug
      COMMAND ${_fixed_time} ${CMAKE_STRIP} --strip-all ${_exe}
      COMMAND ${_fixed_time} ${CMAKE_OBJCOPY} --add-gnu-debuglink=${_exe}.debug ${_exe}
      WORKING_DIRECTORY $<TARGET_FILE_DIR:voranexmg>
      COMMENT "Splitting the debug information off voranexmg.exe")
  endif()
  target_link_libraries(voranexmg PRIVATE voranex_win)
  if(MINGW)
    target_link_options(voranexmg PRIVATE -municode)
  endif()
  if(MSVC)
    # The manifest is ours; MSVC's linker would embed a second one of its own.
    target_link_options(voranexmg PRIVATE /MANIFEST:NO)
  endif()
endif()
if(MSVC)
  # The help text's Korean is written as it reads, in UTF-8.
  set_source_files_properties(service/command_line.cpp PROPERTIES COMPILE_OPTIONS /utf-8)
endif()
