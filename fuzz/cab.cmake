# libcab32: its command-line parser, and checking and extracting cabinets
# through its two entry points (compiled into the harness, with the library's
# inner part, whose writer makes the spoilt cabinets).
kestlin_add_fuzzer(cab_cmdline SOURCES cab_cmdline_fuzz.cpp LIBS cab32_impl)
kestlin_add_fuzzer(cab_extract
  SOURCES cab_extract_fuzz.cpp "${PROJECT_SOURCE_DIR}/src/platform/cab32/cab32.cpp"
  LIBS cab32_impl)
