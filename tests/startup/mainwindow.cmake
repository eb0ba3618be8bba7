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

  # The windows on a desktop: each case in the settings it is about, so they
  # are run here rather than discovered.
  add_executable(kestlin_desktop_tests Desktop_test.cpp)
  target_link_libraries(kestlin_desktop_tests PRIVATE kestlin_testsupport GTest::gtest_main
    kestlin_ui)
  set(_kestlin_desktop "$<TARGET_FILE:kestlin_desktop_tests>")
  add_test(NAME Desktop.Window COMMAND ${_kestlin_desktop} --gtest_filter=Accessibility.*:QtOptions.*)
  set_tests_properties(Desktop.Window PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  # 1024 by 400 logical pixels at 200 %: smaller than the least screen promised
  # (1024 by 600), so that the settings dialog has to scroll on it.
  add_test(NAME Desktop.SmallScreen COMMAND ${_kestlin_desktop} --gtest_filter=SmallScreen.*)
  set_tests_properties(Desktop.SmallScreen PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_CURRENT_SOURCE_DIR}/small-screen.json;QT_SCALE_FACTOR=2")
  # A Japanese locale of the build's own, so that no system locale has to be generated.
  set(_kestlin_locales "${CMAKE_CURRENT_BINARY_DIR}/locale")
  if(EXISTS /usr/share/i18n/locales/ja_JP)
    add_custom_command(OUTPUT "${_kestlin_locales}/ja_JP.UTF-8/LC_CTYPE"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${_kestlin_locales}"
      COMMAND localedef -c -i ja_JP -f UTF-8 "${_kestlin_locales}/ja_JP.UTF-8" || true
      VERBATIM)
    add_custom_target(kestlin_ja_locale ALL DEPENDS "${_kestlin_locales}/ja_JP.UTF-8/LC_CTYPE")
  endif()
  add_test(NAME Desktop.FontJapaneseLocale COMMAND ${_kestlin_desktop} --gtest_filter=Font.*)
  set_tests_properties(Desktop.FontJapaneseLocale PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;LOCPATH=${_kestlin_locales};LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8")
  add_test(NAME Desktop.FontCLocale COMMAND ${_kestlin_desktop} --gtest_filter=Font.*)
  set_tests_properties(Desktop.FontCLocale PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8")
endif()
