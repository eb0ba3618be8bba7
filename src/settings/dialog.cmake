# The settings dialog: its rules without a window in the core, the window and
# the hooks of the main window in the Qt part.
target_sources(kestlin_core PRIVATE
  "${CMAKE_CURRENT_LIST_DIR}/SettingsCheck.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/SettingsStore.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/StoredPassword.cpp")
if(TARGET kestlin_ui)
  target_sources(kestlin_ui PRIVATE
    "${CMAKE_CURRENT_LIST_DIR}/SettingsUi.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/frmIniFile.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/frmIniFile.h")
endif()
