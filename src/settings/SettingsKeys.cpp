#include "settings/SettingsKeys.h"

#include "settings/clsIniFile.h"

namespace kestlin {

namespace {

// The table is indexed by the enumeration: each row must sit at its own value.
constexpr bool RowsInOrder()
{
    for (std::size_t i = 0; i < std::size(kSettingKeys); ++i) {
        if (static_cast<std::size_t>(kSettingKeys[i].key) != i)
            return false;
    }
    return true;
}
static_assert(RowsInOrder());
static_assert(std::size(kSettingKeys) == static_cast<std::size_t>(SettingKey::OAuthScope) + 1);

} // namespace

SettingKey KeyOfField(SettingsField field)
{
    switch (field) {
    case SettingsField::txtUHoukoku:
        return SettingKey::UserHoukoku;
    case SettingsField::txtUUserId:
        return SettingKey::UserUserId;
    case SettingsField::txtUPassWord:
        return SettingKey::UserPassword;
    case SettingsField::txtUMailAdress:
        return SettingKey::UserMailAdress;
    case SettingsField::txtMSmtp:
        return SettingKey::MailSmtp;
    case SettingsField::txtMPort:
        return SettingKey::MailPort;
    case SettingsField::optNon:
        return SettingKey::MailCertify;
    case SettingsField::txtMUserId:
        return SettingKey::MailUserId;
    case SettingsField::txtMPassWord:
        return SettingKey::MailPassword;
    case SettingsField::txtMSubject:
        return SettingKey::MailSubject;
    case SettingsField::txtMMailAdress:
        return SettingKey::MailMailAdress;
    case SettingsField::txtSLog:
        return SettingKey::SystemLog;
    case SettingsField::txtSTempLog:
        return SettingKey::SystemTempLog;
    case SettingsField::txtSTemp:
        return SettingKey::SystemTemp;
    case SettingsField::cboOProvider:
        return SettingKey::OAuthProvider;
    case SettingsField::txtOClientId:
        return SettingKey::OAuthClientId;
    }
    return SettingKey::UserHoukoku;
}

std::string ReadSetting(const std::string &iniPath, SettingKey key, int16_t mode)
{
    return clsIniFile().GetValue(iniPath, KeyInfo(key).section, KeyInfo(key).name, mode);
}

} // namespace kestlin
