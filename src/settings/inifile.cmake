# The settings file: its reader and writer and the class around them.
target_sources(kestlin_core PRIVATE
  "${CMAKE_CURRENT_LIST_DIR}/clsIniFile.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/SettingsKeys.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/IniText.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/SettingsFileIo.cpp")
