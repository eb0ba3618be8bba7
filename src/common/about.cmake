# The About box; it shows the project's own version.
target_sources(kestlin_ui PRIVATE
  "${CMAKE_CURRENT_LIST_DIR}/frmAbout.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/frmAbout.h")
set_source_files_properties("${CMAKE_CURRENT_LIST_DIR}/frmAbout.cpp"
  TARGET_DIRECTORY kestlin_ui
  PROPERTIES COMPILE_DEFINITIONS
    "KESTLIN_VERSION_MAJOR=${PROJECT_VERSION_MAJOR};KESTLIN_VERSION_MINOR=${PROJECT_VERSION_MINOR};KESTLIN_VERSION_REVISION=${PROJECT_VERSION_PATCH}")

# The title-bar menu exists only on Windows; elsewhere the main window offers
# the same two commands in its own menus.
if(WIN32)
  target_sources(kestlin_ui PRIVATE
    "${CMAKE_CURRENT_LIST_DIR}/SysMenuHook_win.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/SysMenuHook.h")
endif()
