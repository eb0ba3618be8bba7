# The cabinet wrapper; it loads libcab32.so at run time, so it links nothing of it.
target_sources(kestlin_core PRIVATE
  "${CMAKE_CURRENT_LIST_DIR}/clsCab32.cpp")
