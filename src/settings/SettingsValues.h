#pragma once
// The values of the settings dialog without the window: one text per field,
// named after the field, and the chosen authentication method.
#include <cstdint>
#include <string>

namespace kestlin {

// The fields a check or a load can point at, in their order on the screen.
// optNon stands for the group of authentication methods.
enum class SettingsField {
    txtUHoukoku,
    txtUUserId,
    txtUPassWord,
    txtUMailAdress,
    txtMSmtp,
    txtMPort,
    optNon,
    txtMUserId,
    txtMPassWord,
    txtMSubject,
    txtMMailAdress,
    txtSLog,
    txtSTempLog,
    txtSTemp,
    // Shown with the OAuth 2.0 method only.
    cboOProvider,
    txtOClientId,
};

// Authentication method codes as stored under MAIL / CERTIFY.
inline constexpr int16_t kCertifyNone = 0; // optNon
inline constexpr int16_t kCertifyPopBefore = 1; // optPBS
inline constexpr int16_t kCertifyLogin = 2; // optSAL
inline constexpr int16_t kCertifyCramMd5 = 3; // optSAC
inline constexpr int16_t kCertifyPlain = 4; // optAP
inline constexpr int16_t kCertifyOAuth = 5; // optOAuth: an OAuth 2.0 access token
// No option button selected (a load that stopped before the method).
inline constexpr int16_t kCertifyUnset = -1;

struct SettingsValues
{
    std::string uHoukoku;
    std::string uUserId;
    std::string uPassWord;
    std::string uMailAdress;
    std::string mSmtp;
    std::string mPort;
    int16_t certify = kCertifyUnset;
    std::string mUserId;
    std::string mPassWord;
    std::string mSubject;
    std::string mMailAdress;
    std::string sLog;
    std::string sTempLog;
    std::string sTemp;
    // [OAUTH]: the provider and the application's client ID.
    std::string oProvider;
    std::string oClientId;
};

} // namespace kestlin
