target_sources(kestlin_ui PRIVATE QtDisplay.cpp QtDisplay.h)
