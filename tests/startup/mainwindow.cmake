# Start-up checks, the main window, the display of the windows, and start-up
# as a process (through a companion program that prints what it would show).
kestlin_add_tests(kestlin_startup_tests SOURCES basKestlin_01_test.cpp)

if(TARGET kestlin_ui)
  add_executable(kestlin_probe kestlin_probe.cpp)
  target_link_libraries(kestlin_probe PRIVATE kestlin_ui)

  kestlin_add_tests(kestlin_mainwindow_tests
    SOURCES frmKestlin_01_test.cpp QtDisplay_test.cpp startup_process_test.cpp
    LIBS kestlin_ui)
  target_compile_definitions(kestlin_mainwindow_tests PRIVATE
    KESTLIN_PROGRAM="$<TARGET_FILE:kestlin>"
    KESTLIN_PROBE="$<TARGET_FILE:kestlin_probe>"
    KESTLIN_LIB_DIR="$<TARGET_FILE_DIR:bsmtp>")
  add_dependencies(kestlin_mainwindow_tests kestlin kestlin_probe bsmtp cab32 capicom)
endif()
