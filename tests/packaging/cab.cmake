# clsCab32 twice: against a stand-in of libcab32.so that records the command
# lines it receives (it lies in the test program's own folder, which is where
# the program looks first), and against the real library.
add_library(cab32_recording SHARED "${CMAKE_CURRENT_LIST_DIR}/cab32_recording.c")
target_link_libraries(cab32_recording PRIVATE kestlin_warnings)
set_target_properties(cab32_recording PROPERTIES
  OUTPUT_NAME cab32
  LIBRARY_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/recording")

kestlin_add_tests(kestlin_cab_commandline_tests
  SOURCES "${CMAKE_CURRENT_LIST_DIR}/clsCab32_commandline_test.cpp")
set_target_properties(kestlin_cab_commandline_tests PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/recording")
add_dependencies(kestlin_cab_commandline_tests cab32_recording)

kestlin_add_tests(kestlin_cab_tests
  SOURCES "${CMAKE_CURRENT_LIST_DIR}/clsCab32_test.cpp"
          "${PROJECT_SOURCE_DIR}/tests/platform/cab32/cabtools.cpp")
add_dependencies(kestlin_cab_tests cab32)
