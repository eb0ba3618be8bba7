# The settings file: reading and writing by the Windows profile rules.
kestlin_add_tests(kestlin_inifile_tests
  SOURCES
    "${CMAKE_CURRENT_LIST_DIR}/IniFileRead_test.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/IniFileWrite_test.cpp"
  PROPERTIES TIMEOUT 60)
