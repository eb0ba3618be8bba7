#pragma once
// Encryption of a whole file (mode 0, RC4 under a key derived from the password)
// and of a short text (mode 1, through the encrypted-data library, as Base64).
#include <cstdint>
#include <functional>
#include <string>

namespace kestlin {

// The fixed password that every caller hands the class: for the mailed archive
// and for the two account passwords kept in the settings file.
inline constexpr const char *kFixedPassword = "Ruda";

class clsCryptFile
{
public:
    bool Encrypt(int16_t iMode = 0);
    bool Decrypt(int16_t iMode = 0);

    const std::string &InFile() const { return inFile_; }
    void InFile(const std::string &value) { inFile_ = value; }
    const std::string &OutFile() const { return outFile_; }
    void OutFile(const std::string &value) { outFile_ = value; }
    const std::string &Password() const { return password_; }
    void Password(const std::string &value) { password_ = value; }
    // The message of the last failure; never cleared by a later success.
    const std::string &GetErrMsg() const { return errMsg_; }

    // Raised after each block of a file operation: bytes done so far, size of the input.
    std::function<void(int64_t cryptBytes, int64_t fileBytes)> Crypting;
    // Raised once at the end of every operation, successful or not.
    std::function<void()> Crypted;

private:
    bool RunMode(int16_t iMode, bool encrypt);
    bool RunFile(bool encrypt, std::string &reason);
    bool RunText(bool encrypt, std::string &reason);

    std::string inFile_;
    std::string outFile_;
    std::string password_;
    std::string errMsg_;
};

} // namespace kestlin
