# Warnings and sanitizers for our own targets only, so that a project that pulls
# this one in keeps its own flags.
add_library(kestlin_warnings INTERFACE)
target_compile_options(kestlin_warnings INTERFACE
  $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-Wall -Wextra -Wpedantic>
  $<$<COMPILE_LANG_AND_ID:C,GNU,Clang>:-Wall -Wextra -Wpedantic>)
# GCC 12 reports overlapping copies inside libstdc++'s own string code at -O3
# (a known false positive of that version); it says nothing about our code.
target_compile_options(kestlin_warnings INTERFACE
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
if(KESTLIN_SANITIZE)
  target_compile_options(kestlin_warnings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(kestlin_warnings INTERFACE -fsanitize=address,undefined)
endif()
# The fuzz build: coverage for libFuzzer and both sanitizers on all of our own
# code, so that what a harness reaches through the core or a library counts.
if(KESTLIN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KESTLIN_FUZZ needs clang for C and C++ (libFuzzer)")
  endif()
  target_compile_options(kestlin_warnings INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)
  target_link_options(kestlin_warnings INTERFACE -fsanitize=address,undefined)
endif()

# Puts a target that belongs to the installed program into the program folder.
function(kestlin_program_part target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${KESTLIN_BIN_DIR}"
    LIBRARY_OUTPUT_DIRECTORY "${KESTLIN_BIN_DIR}")
endfunction()
