# The start-up checks (no Qt) and the main window with the program's entry.
target_sources(kestlin_core PRIVATE basKestlin_01.cpp ListRules.cpp)
if(TARGET kestlin_ui)
  target_sources(kestlin_ui PRIVATE
    Appearance.cpp
    kestlin_icons.qrc
    AttachmentList.cpp
    KestlinStart.cpp
    frmKestlin_01.cpp
    frmKestlin_01.h)
  # The font is chosen by every name fontconfig knows a family by.
  find_package(Fontconfig REQUIRED)
  # Seen where kestlin_ui is defined too, which links it.
  set_target_properties(Fontconfig::Fontconfig PROPERTIES IMPORTED_GLOBAL TRUE)
  target_link_libraries(kestlin_ui PRIVATE Fontconfig::Fontconfig)
  add_executable(kestlin main.cpp)
  target_link_libraries(kestlin PRIVATE kestlin_ui)
  kestlin_program_part(kestlin)
endif()
