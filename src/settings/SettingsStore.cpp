#include "settings/SettingsStore.h"

#include "common/files.h"
#include "common/numbers.h"
#include "packaging/clsCryptFile.h"
#include "settings/ReportMailbox.h"
#include "settings/clsIniFile.h"

#include <exception>
#include <unistd.h>

namespace kestlin {

namespace {

std::string WithoutCrLf(std::string text)
{
    for (std::string::size_type at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at))
        text.erase(at, 2);
    return text;
}

bool DecryptSetting(const std::string &stored, std::string &plain)
{
    clsCryptFile crypt;
    crypt.InFile(stored);
    crypt.Password(kFixedPassword);
    if (!crypt.Decrypt(1))
        return false;
    plain = crypt.OutFile();
    return true;
}

class SettingsWriter
{
public:
    explicit SettingsWriter(const std::string &iniPath) { ini_.PathIniFile(iniPath); }

    bool Write(const char *section, const char *key, const std::string &value)
    {
        if (ini_.Section() != section)
            ini_.Section(section);
        ini_.Key(key);
        return ini_.WriteValue(value);
    }

    // Encrypted, with the line breaks of the encrypted form taken out.
    bool WriteEncrypted(const char *section, const char *key, const std::string &plain)
    {
        clsCryptFile crypt;
        crypt.InFile(plain);
        crypt.Password(kFixedPassword);
        if (!crypt.Encrypt(1)) {
            cryptError_ = crypt.GetErrMsg();
            return false;
        }
        return Write(section, key, WithoutCrLf(crypt.OutFile()));
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
    clsIniFile ini_;
    std::string cryptError_;
};

bool WriteAll(SettingsWriter &w, const SettingsValues &v)
{
    const int16_t certify = v.certify == kCertifyUnset ? kCertifyNone : v.certify;
    return w.Write("USER", "HOUKOKU", v.uHoukoku) && w.Write("USER", "USERID", v.uUserId)
           && w.WriteEncrypted("USER", "PASSWORD", v.uPassWord)
           && w.Write("USER", "MAILADRESS", v.uMailAdress) && w.Write("MAIL", "SMTP", v.mSmtp)
           && w.Write("MAIL", "PORT", v.mPort)
           && w.Write("MAIL", "CERTIFY", std::to_string(certify))
           && w.Write("MAIL", "USERID", v.mUserId)
           && (v.mPassWord.empty() ? w.Write("MAIL", "PASSWORD", "")
                                   : w.WriteEncrypted("MAIL", "PASSWORD", v.mPassWord))
           && w.Write("MAIL", "SUBJECT", v.mSubject) && w.Write("MAIL", "MAILADRESS", v.mMailAdress)
           && w.Write("SYSTEM", "LOG", v.sLog) && w.Write("SYSTEM", "TEMPLOG", v.sTempLog)
           && w.Write("SYSTEM", "TEMP", v.sTemp);
}

bool LoadAll(const std::string &path, SettingsValues &v, std::string &failure)
{
    clsIniFile ini;
    auto get
        = [&](const char *section, const char *key) { return ini.GetValue(path, section, key); };
    v.uHoukoku = get("USER", "HOUKOKU");
    v.uUserId = get("USER", "USERID");
    // Decrypted even when empty: a stored user password is never legitimately empty.
    if (!DecryptSetting(get("USER", "PASSWORD"), v.uPassWord))
        return false;
    v.uMailAdress = get("USER", "MAILADRESS");
    v.mSmtp = get("MAIL", "SMTP");
    v.mPort = get("MAIL", "PORT");
    v.mUserId = get("MAIL", "USERID");
    const std::string mailPassword = get("MAIL", "PASSWORD");
    if (!mailPassword.empty() && !DecryptSetting(mailPassword, v.mPassWord))
        return false;
    int16_t certify = 0;
    if (!ToInt16(get("MAIL", "CERTIFY"), certify, failure))
        return false;
    v.certify = certify >= kCertifyPopBefore && certify <= kCertifyPlain ? certify : kCertifyNone;
    v.mSubject = get("MAIL", "SUBJECT");
    v.mMailAdress = get("MAIL", "MAILADRESS");
    v.sLog = get("SYSTEM", "LOG");
    v.sTempLog = get("SYSTEM", "TEMPLOG");
    v.sTemp = get("SYSTEM", "TEMP");
    return true;
}

} // namespace

SettingsValues FirstTimeSettings(const std::string &documentsFolder,
                                 const std::string &programFolder)
{
    SettingsValues v;
    v.uHoukoku = "石油動態報告";
    v.mPort = "25";
    v.certify = kCertifyNone;
    v.mSubject = "【石油動態報告】";
    v.mMailAdress = kReportMailbox;
    v.sLog = documentsFolder;
    v.sTempLog = programFolder;
    v.sTemp = programFolder;
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

bool LoadSettingsFile(const std::string &iniPath, SettingsValues &values, std::string &failure)
{
    try {
        return LoadAll(iniPath, values, failure);
    } catch (const std::exception &e) {
        failure = e.what();
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
