# The command line as a process: the program and the test companion copied
# into a folder of their own with the libraries, against the real mail servers.
if(TARGET kestlin_ui AND EXISTS "${PROJECT_SOURCE_DIR}/tests/servers/CMakeLists.txt")
  kestlin_add_tests(kestlin_commandline_tests
    SOURCES CommandLine_test.cpp SendTestSupport.cpp
    LIBS kestlin_ui kestlin_testservers)
  target_compile_definitions(kestlin_commandline_tests PRIVATE
    KESTLIN_PROGRAM="$<TARGET_FILE:kestlin>"
    KESTLIN_PROBE="$<TARGET_FILE:kestlin_probe>"
    KESTLIN_LIB_DIR="$<TARGET_FILE_DIR:bsmtp>")
  add_dependencies(kestlin_commandline_tests kestlin kestlin_probe bsmtp cab32 capicom)
endif()
