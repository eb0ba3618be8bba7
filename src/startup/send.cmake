# The send pipeline: the steps without a window in kestlin_core, the progress
# window and the hand-over to the main window in kestlin_ui.
target_sources(kestlin_core PRIVATE SendSteps.cpp)
if(TARGET kestlin_ui)
  target_sources(kestlin_ui PRIVATE SendRunner.cpp frmProgress.cpp)
  # The main window comes with its own area; until it is there, nothing calls
  # into this hand-over.
  if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/frmKestlin_01.h")
    target_sources(kestlin_ui PRIVATE SendUi.cpp)
  endif()
endif()
