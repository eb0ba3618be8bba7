#include "settings/SettingsStore.h"

#include "common/files.h"
#include "common/numbers.h"
#include "packaging/clsCryptFile.h"
#include "settings/SettingsKeys.h"
#include "settings/StoredPassword.h"
#include "settings/clsIniFile.h"

#include <exception>
#include <unistd.h>

namespace kestlin {

namespace {

using K = SettingKey;

std::string WithoutCrLf(std::string text)
{
    for (std::string::size_type at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at))
        text.erase(at, 2);
    return text;
}

class SettingsWriter
{
public:
    explicit SettingsWriter(const std::string &iniPath)
        : path_(iniPath)
    { }

    // Collected, and written by Commit all at once.
    bool Write(SettingKey key, const std::string &value)
    {
        values_.push_back({ KeyInfo(key).section, KeyInfo(key).name, value });
        return true;
    }
    bool Commit() { return ini_.WriteValues(path_, values_); }

    // Encrypted, with the line breaks of the encrypted form taken out.
    bool WriteEncrypted(SettingKey key, const std::string &plain)
    {
        clsCryptFile crypt;
        crypt.InFile(plain);
        crypt.Password(kFixedPassword);
        if (!crypt.Encrypt(1)) {
            cryptError_ = crypt.GetErrMsg();
            return false;
        }
        return Write(key, WithoutCrLf(crypt.OutFile()));
    }

    // A failed encryption first, then a failed write, then anything else.
    std::string FailureText(const std::string &other) const
    {
        if (!cryptError_.empty())
            return cryptError_;
        if (!ini_.GetErrMessage().empty())
            return ini_.GetErrMessage();
        return other;
    }

private:
    std::string path_;
    std::vector<clsIniFile::Value> values_;
    clsIniFile ini_;
    std::string cryptError_;
};

bool WriteAll(SettingsWriter &w, const SettingsValues &v)
{
    const int16_t certify = v.certify == kCertifyUnset ? kCertifyNone : v.certify;
    return w.Write(K::UserHoukoku, v.uHoukoku) && w.Write(K::UserUserId, v.uUserId)
           && w.WriteEncrypted(K::UserPassword, v.uPassWord)
           && w.Write(K::UserMailAdress, v.uMailAdress) && w.Write(K::MailSmtp, v.mSmtp)
           && w.Write(K::MailPort, v.mPort) && w.Write(K::MailCertify, std::to_string(certify))
           && w.Write(K::MailUserId, v.mUserId)
           && (v.mPassWord.empty() ? w.Write(K::MailPassword, "")
                                   : w.WriteEncrypted(K::MailPassword, v.mPassWord))
           && w.Write(K::MailSubject, v.mSubject) && w.Write(K::MailMailAdress, v.mMailAdress)
           && w.Write(K::SystemLog, v.sLog) && w.Write(K::SystemTempLog, v.sTempLog)
           && w.Write(K::SystemTemp, v.sTemp)
           // A file with another method stays as it always was.
           && (certify != kCertifyOAuth
               || (w.Write(K::OAuthProvider, v.oProvider)
                   && w.Write(K::OAuthClientId, v.oClientId)))
           && w.Commit();
}

// Stops at a stored password that cannot be decrypted, naming its key.
bool Decrypted(const std::string &stored, SettingKey key, std::string &plain,
               SettingsLoadFailure &failure)
{
    DecryptedPassword result = DecryptStoredPassword(stored);
    if (!result.ok) {
        failure.undecryptable = key;
        return false;
    }
    plain = std::move(result.password);
    return true;
}

bool LoadAll(const std::string &path, SettingsValues &v, SettingsLoadFailure &failure)
{
    auto get = [&](SettingKey key) { return ReadSetting(path, key); };
    v.uHoukoku = get(K::UserHoukoku);
    v.uUserId = get(K::UserUserId);
    // Decrypted even when empty: a stored user password is never legitimately empty.
    if (!Decrypted(get(K::UserPassword), K::UserPassword, v.uPassWord, failure))
        return false;
    v.uMailAdress = get(K::UserMailAdress);
    v.mSmtp = get(K::MailSmtp);
    v.mPort = get(K::MailPort);
    v.mUserId = get(K::MailUserId);
    const std::string mailPassword = get(K::MailPassword);
    if (!mailPassword.empty() && !Decrypted(mailPassword, K::MailPassword, v.mPassWord, failure))
        return false;
    int16_t certify = 0;
    if (!ToInt16(get(K::MailCertify), certify, failure.message))
        return false;
    v.certify = certify >= kCertifyPopBefore && certify <= kCertifyOAuth ? certify : kCertifyNone;
    v.mSubject = get(K::MailSubject);
    v.mMailAdress = get(K::MailMailAdress);
    v.sLog = get(K::SystemLog);
    v.sTempLog = get(K::SystemTempLog);
    v.sTemp = get(K::SystemTemp);
    v.oProvider = get(K::OAuthProvider);
    v.oClientId = get(K::OAuthClientId);
    return true;
}

} // namespace

SettingsValues FirstTimeSettings(const std::string &documentsFolder,
                                 const std::string &programFolder)
{
    SettingsValues v;
    v.uHoukoku = FirstTimeValue(SettingKey::UserHoukoku);
    v.mPort = FirstTimeValue(SettingKey::MailPort);
    v.certify = kCertifyNone;
    v.mSubject = FirstTimeValue(SettingKey::MailSubject);
    v.mMailAdress = FirstTimeValue(SettingKey::MailMailAdress);
    v.sLog = documentsFolder;
    v.sTempLog = programFolder;
    v.sTemp = programFolder;
    v.oProvider = FirstTimeValue(SettingKey::OAuthProvider);
    return v;
}

bool ToInt16(const std::string &text, int16_t &number, std::string &failure)
{
    int64_t value = 0;
    failure.clear();
    if (!ToInteger(text, INT16_MIN, INT16_MAX, value, failure))
        return false;
    number = static_cast<int16_t>(value);
    return true;
}

bool LoadSettingsFile(const std::string &iniPath, SettingsValues &values,
                      SettingsLoadFailure &failure)
{
    failure = {};
    try {
        return LoadAll(iniPath, values, failure);
    } catch (const std::exception &e) {
        failure.message = e.what();
        return false;
    }
}

bool SaveSettingsFile(const std::string &iniPath, const SettingsValues &values, bool newFile,
                      std::string &failure)
{
    SettingsWriter writer(iniPath);
    std::string other;
    try {
        if (WriteAll(writer, values))
            return true;
    } catch (const std::exception &e) {
        other = e.what();
    }
    failure = writer.FailureText(other);
    // A first save that breaks off must not leave half a settings file behind.
    if (newFile && OrdinaryFileExists(iniPath))
        ::unlink(iniPath.c_str());
    return false;
}

} // namespace kestlin
