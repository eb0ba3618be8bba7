# Tests of the encryption class. The text tests load the real libcapicom.so of
# the build; a second, incomplete library of the same name lives in a folder of
# its own for the missing-entry-point case.
add_library(crypt_incomplete_capicom SHARED "${CMAKE_CURRENT_LIST_DIR}/CryptIncompleteLibrary.c")
target_link_libraries(crypt_incomplete_capicom PRIVATE kestlin_warnings)
set_target_properties(crypt_incomplete_capicom PROPERTIES
  OUTPUT_NAME capicom
  LIBRARY_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/incomplete-capicom")

kestlin_add_tests(kestlin_crypt_tests
  SOURCES "${CMAKE_CURRENT_LIST_DIR}/CryptFile_test.cpp" "${CMAKE_CURRENT_LIST_DIR}/CryptText_test.cpp")
target_compile_definitions(kestlin_crypt_tests PRIVATE
  KESTLIN_INCOMPLETE_CAPICOM_DIR="${CMAKE_CURRENT_BINARY_DIR}/incomplete-capicom")
add_dependencies(kestlin_crypt_tests capicom crypt_incomplete_capicom)
