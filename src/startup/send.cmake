# The send pipeline: the steps without a window in kestlin_core, the progress
# window and the hand-over to the main window in kestlin_ui.
target_sources(kestlin_core PRIVATE SendSteps.cpp SubmissionRecord.cpp Interruption.cpp)
if(TARGET kestlin_ui)
  target_sources(kestlin_ui PRIVATE SendUi.cpp SendRunner.cpp frmProgress.cpp frmProgress.h)
endif()
