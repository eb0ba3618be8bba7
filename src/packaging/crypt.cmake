# The encryption class: files through RC4 here, texts through libcapicom.so.
target_sources(kestlin_core PRIVATE
  "${CMAKE_CURRENT_LIST_DIR}/clsCryptFile.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/clsCryptFile.h"
  "${CMAKE_CURRENT_LIST_DIR}/CryptRc4.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/CryptRc4.h"
  "${CMAKE_CURRENT_LIST_DIR}/CryptText.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/CryptText.h")
