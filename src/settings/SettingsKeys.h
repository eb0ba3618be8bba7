#pragma once
// Every key of the settings file in one table: its section, its name and the
// value a first-time dialog offers where there is a fixed one. Code that reads
// or writes the settings file names a key by SettingKey, never by its text.
#include "settings/ReportMailbox.h"
#include "settings/SettingsValues.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestlin {

// In the order of the settings file.
enum class SettingKey {
    UserHoukoku,
    UserUserId,
    UserPassword,
    UserMailAdress,
    MailSmtp,
    MailPort,
    MailCertify,
    MailUserId,
    MailPassword,
    MailSubject,
    MailMailAdress,
    MailPopPort,
    SystemLog,
    SystemTempLog,
    SystemTemp,
    // Signing in with OAuth 2.0 (CERTIFY 5); written only with that method.
    OAuthProvider,
    OAuthTenant,
    OAuthClientId,
    OAuthClientSecret,
    OAuthDeviceUrl,
    OAuthAuthUrl,
    OAuthTokenUrl,
    OAuthScope,
};

struct SettingKeyInfo
{
    SettingKey key;
    const char *section;
    const char *name;
    // The first-time value, or nullptr when there is none or it depends on the
    // machine (the folders).
    const char *firstTime;
};

inline constexpr SettingKeyInfo kSettingKeys[] = {
    { SettingKey::UserHoukoku, "USER", "HOUKOKU", "石油動態報告" },
    { SettingKey::UserUserId, "USER", "USERID", nullptr },
    { SettingKey::UserPassword, "USER", "PASSWORD", nullptr },
    { SettingKey::UserMailAdress, "USER", "MAILADRESS", nullptr },
    { SettingKey::MailSmtp, "MAIL", "SMTP", nullptr },
    { SettingKey::MailPort, "MAIL", "PORT", "25" },
    { SettingKey::MailCertify, "MAIL", "CERTIFY", "0" },
    { SettingKey::MailUserId, "MAIL", "USERID", nullptr },
    { SettingKey::MailPassword, "MAIL", "PASSWORD", nullptr },
    { SettingKey::MailSubject, "MAIL", "SUBJECT", "【石油動態報告】" },
    { SettingKey::MailMailAdress, "MAIL", "MAILADRESS", kReportMailbox },
    // Not in the dialog: POP before SMTP on a port other than 110 (tests).
    { SettingKey::MailPopPort, "MAIL", "POPPORT", nullptr },
    { SettingKey::SystemLog, "SYSTEM", "LOG", nullptr },
    { SettingKey::SystemTempLog, "SYSTEM", "TEMPLOG", nullptr },
    { SettingKey::SystemTemp, "SYSTEM", "TEMP", nullptr },
    { SettingKey::OAuthProvider, "OAUTH", "PROVIDER", "microsoft" },
    { SettingKey::OAuthTenant, "OAUTH", "TENANT", nullptr },
    { SettingKey::OAuthClientId, "OAUTH", "CLIENTID", nullptr },
    { SettingKey::OAuthClientSecret, "OAUTH", "CLIENTSECRET", nullptr },
    { SettingKey::OAuthDeviceUrl, "OAUTH", "DEVICEURL", nullptr },
    { SettingKey::OAuthAuthUrl, "OAUTH", "AUTHURL", nullptr },
    { SettingKey::OAuthTokenUrl, "OAUTH", "TOKENURL", nullptr },
    { SettingKey::OAuthScope, "OAUTH", "SCOPE", nullptr },
};

constexpr const SettingKeyInfo &KeyInfo(SettingKey key)
{
    return kSettingKeys[static_cast<std::size_t>(key)];
}

// The first-time value of a key, empty when it has none.
inline std::string FirstTimeValue(SettingKey key)
{
    const char *value = KeyInfo(key).firstTime;
    return value ? value : "";
}

// How a message names the key: "[USER] HOUKOKU".
inline std::string KeyLabel(SettingKey key)
{
    return "[" + std::string(KeyInfo(key).section) + "] " + KeyInfo(key).name;
}

// The key a dialog field is stored under (the method group under CERTIFY).
SettingKey KeyOfField(SettingsField field);

// The stored value of a key: mode 0 as text, mode 1 read as an integer (see
// clsIniFile::GetValue).
std::string ReadSetting(const std::string &iniPath, SettingKey key, int16_t mode = 0);

} // namespace kestlin
