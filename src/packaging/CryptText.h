#pragma once
// Text encryption through libcapicom.so, loaded at run time for each call.
#include <string>

namespace kestlin {

// Encrypts text to framed Base64, or decrypts Base64 back to text, with the
// password as secret. False with a reason (naming the library when it or one
// of its entry points is missing); result is then left as it was.
bool CryptTextWithLibrary(bool encrypt, const std::string &text, const std::string &password,
                          std::string &result, std::string &reason);

} // namespace kestlin
