# The settings dialog's rules without a window, then the dialog, the first-run
# check, the extra commands and the About box on an offscreen screen.
kestlin_add_tests(kestlin_settings_check_tests
  SOURCES
    "${CMAKE_CURRENT_LIST_DIR}/SettingsCheck_test.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/SettingsStore_test.cpp")

if(TARGET kestlin_ui)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kestlin_add_tests(kestlin_settings_dialog_tests
    SOURCES
      "${CMAKE_CURRENT_LIST_DIR}/QtTestApp.cpp"
      "${CMAKE_CURRENT_LIST_DIR}/frmIniFile_test.cpp"
      "${CMAKE_CURRENT_LIST_DIR}/SettingsUi_test.cpp"
      "${CMAKE_CURRENT_LIST_DIR}/frmAbout_test.cpp"
      "${CMAKE_CURRENT_LIST_DIR}/Screenshots_test.cpp"
    LIBS kestlin_ui Qt6::Test)
  target_compile_definitions(kestlin_settings_dialog_tests PRIVATE
    KESTLIN_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    KESTLIN_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    KESTLIN_VERSION_REVISION=${PROJECT_VERSION_PATCH})
endif()

# The stored passwords go through the encrypted-data library at run time.
foreach(_kestlin_t kestlin_settings_check_tests kestlin_settings_dialog_tests)
  if(TARGET ${_kestlin_t} AND TARGET capicom)
    add_dependencies(${_kestlin_t} capicom)
  endif()
endforeach()
