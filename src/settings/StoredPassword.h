#pragma once
// The two account passwords kept in the settings file: encrypted as text with
// the fixed password, and read back here by every part that needs one.
#include <string>

namespace kestlin {

struct DecryptedPassword
{
    bool ok = false;
    std::string password; // the password as typed, when ok
    // When not ok, why: the encryption's own text, or the system's description
    // of an invalid argument when it gave none. Never empty on failure.
    std::string reason;
};

// Decrypts a stored value. An empty value is not a stored password and fails.
DecryptedPassword DecryptStoredPassword(const std::string &stored);

} // namespace kestlin
