# The send pipeline: its steps without servers, the whole submission against
# real mail servers, and the progress window.
#
# Every test here may write error logs into the one program folder, whose
# names carry only the second: they take turns.
set(_send_test_properties RESOURCE_LOCK kestlin_startup_errlog)

# The libraries are loaded by name at run time: built before the tests run,
# and found also when a test program is started by hand.
function(_send_loads_libraries target)
  set_target_properties(${target} PROPERTIES BUILD_RPATH "${KESTLIN_BIN_DIR}")
  add_dependencies(${target} bsmtp cab32 capicom)
endfunction()

kestlin_add_tests(kestlin_send_tests
  SOURCES SendSteps_test.cpp SendTestSupport.cpp
  PROPERTIES ${_send_test_properties})

# Against the real mail servers, once they are part of the tests (their
# folder is added after this one).
if(EXISTS "${PROJECT_SOURCE_DIR}/tests/servers/CMakeLists.txt")
  kestlin_add_tests(kestlin_send_e2e_tests
    SOURCES SendEndToEnd_test.cpp SendTestSupport.cpp
    LIBS kestlin_testservers
    PROPERTIES ${_send_test_properties})
  _send_loads_libraries(kestlin_send_e2e_tests)
  # POP before SMTP binds 127.0.0.1:110, shared with the mail area's tests: these
  # tests also hold that area's lock. A second lock cannot pass through the
  # discovery (a list value is split), so it is added after it.
  set(_send_lock_file "${CMAKE_CURRENT_BINARY_DIR}/kestlin_send_e2e_tests_locks.cmake")
  file(WRITE "${_send_lock_file}"
    "if(kestlin_send_e2e_tests_TESTS)\n"
    "  set_tests_properties(\${kestlin_send_e2e_tests_TESTS} PROPERTIES RESOURCE_LOCK\n"
    "    \"kestlin_startup_errlog;kestlin_mail_ports\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${_send_lock_file}")
endif()

if(TARGET kestlin_ui)
  kestlin_add_tests(kestlin_send_ui_tests
    SOURCES SendUi_test.cpp SendTestSupport.cpp
    LIBS kestlin_ui
    PROPERTIES ${_send_test_properties})
  _send_loads_libraries(kestlin_send_ui_tests)
  if(EXISTS "${PROJECT_SOURCE_DIR}/tests/servers/CMakeLists.txt")
    target_link_libraries(kestlin_send_ui_tests PRIVATE kestlin_testservers)
    target_compile_definitions(kestlin_send_ui_tests PRIVATE KESTLIN_HAVE_TEST_SERVERS)
  endif()
endif()
