# The command line: the terminal (no Qt) in the core, the modes beside the
# start-up of the window (they share its instance lock).
target_sources(kestlin_core PRIVATE Terminal.cpp AuthorizeCommand.cpp)
if(TARGET kestlin_ui)
  target_sources(kestlin_ui PRIVATE CommandLine.cpp)
  set_source_files_properties(CommandLine.cpp TARGET_DIRECTORY kestlin_ui
    PROPERTIES COMPILE_DEFINITIONS "KESTLIN_VERSION=\"${PROJECT_VERSION}\"")
endif()
