target_sources(kestlin_ui PRIVATE ButtonKeys.cpp ButtonKeys.h QtDisplay.cpp QtDisplay.h)
