# The start-up checks (no Qt) and the main window with the program's entry.
target_sources(kestlin_core PRIVATE basKestlin_01.cpp ListRules.cpp)
if(TARGET kestlin_ui)
  target_sources(kestlin_ui PRIVATE
    Appearance.cpp
    AttachmentList.cpp
    KestlinStart.cpp
    frmKestlin_01.cpp
    frmKestlin_01.h)
  add_executable(kestlin main.cpp)
  target_link_libraries(kestlin PRIVATE kestlin_ui)
  kestlin_program_part(kestlin)
endif()
