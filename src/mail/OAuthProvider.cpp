#include "mail/OAuthProvider.h"

#include "mail/OAuthBuild.h"
#include "mail/OAuthHttp.h"
#include "settings/SettingsKeys.h"

#include <algorithm>

namespace kestlin {

namespace {

constexpr const char *kMicrosoftBase = "https://login.microsoftonline.com/";
constexpr const char *kMicrosoftScope = "https://outlook.office.com/SMTP.Send offline_access";
constexpr const char *kGoogleAuth = "https://accounts.google.com/o/oauth2/v2/auth";
constexpr const char *kGoogleToken = "https://oauth2.googleapis.com/token";
constexpr const char *kGoogleScope = "https://mail.google.com/";

// A tenant becomes part of a URL path: a name, a domain or a GUID, nothing else.
bool IsTenantName(const std::string &tenant)
{
    return !tenant.empty() && std::all_of(tenant.begin(), tenant.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
               || c == '-' || c == '.' || c == '_';
    });
}

bool Preset(const OAuthSettings &s, OAuthEndpoints &e, std::string &reason)
{
    e.provider = s.provider.empty() ? kOAuthMicrosoft : s.provider;
    if (e.provider == kOAuthMicrosoft) {
        const std::string tenant = s.tenant.empty() ? "organizations" : s.tenant;
        if (!IsTenantName(tenant)) {
            reason = "[OAUTH] TENANT「" + tenant + "」はテナント名として使えません。";
            return false;
        }
        const std::string base = kMicrosoftBase + tenant + "/oauth2/v2.0/";
        e.deviceUrl = base + "devicecode";
        e.authUrl = base + "authorize";
        e.tokenUrl = base + "token";
        e.scope = kMicrosoftScope;
        e.clientId = kBuiltInMicrosoftClientId;
        e.loopbackHost = "localhost";
    } else if (e.provider == kOAuthGoogle) {
        e.authUrl = kGoogleAuth;
        e.tokenUrl = kGoogleToken;
        e.scope = kGoogleScope;
        e.askOffline = true;
        e.clientId = kBuiltInGoogleClientId;
        e.clientSecret = kBuiltInGoogleClientSecret;
    } else if (e.provider != kOAuthCustom) {
        reason = "[OAUTH] PROVIDER「" + e.provider
                 + "」は使えません。microsoft、google、custom のどれかを指定してください。";
        return false;
    }
    return true;
}

void Override(std::string &field, const std::string &value)
{
    if (!value.empty())
        field = value;
}

} // namespace

bool ResolveOAuth(const OAuthSettings &settings, OAuthEndpoints &endpoints, std::string &reason)
{
    endpoints = {};
    reason.clear();
    if (!Preset(settings, endpoints, reason))
        return false;
    // The built-in secret belongs to the built-in client only.
    if (!settings.clientId.empty() && settings.clientId != endpoints.clientId)
        endpoints.clientSecret.clear();
    Override(endpoints.clientId, settings.clientId);
    Override(endpoints.clientSecret, settings.clientSecret);
    Override(endpoints.deviceUrl, settings.deviceUrl);
    Override(endpoints.authUrl, settings.authUrl);
    Override(endpoints.tokenUrl, settings.tokenUrl);
    Override(endpoints.scope, settings.scope);
    if (endpoints.clientId.empty()) {
        reason = "[OAUTH] CLIENTID（アプリケーションのクライアントID）が設定されていません。";
        return false;
    }
    if (endpoints.tokenUrl.empty()) {
        reason = "[OAUTH] TOKENURL（トークンのURL）が設定されていません。";
        return false;
    }
    if (endpoints.deviceUrl.empty() && endpoints.authUrl.empty()) {
        reason = "[OAUTH] DEVICEURL か AUTHURL（認可のURL）を設定してください。";
        return false;
    }
    for (const std::string *url :
         { &endpoints.tokenUrl, &endpoints.deviceUrl, &endpoints.authUrl }) {
        if (!url->empty() && !(reason = OAuthUrlRefusal(*url)).empty())
            return false;
    }
    return true;
}

bool IsOAuthProvider(const std::string &provider)
{
    return provider.empty() || provider == kOAuthMicrosoft || provider == kOAuthGoogle
           || provider == kOAuthCustom;
}

bool HasBuiltInClient(const std::string &provider)
{
    if (provider.empty() || provider == kOAuthMicrosoft)
        return *kBuiltInMicrosoftClientId != '\0';
    return provider == kOAuthGoogle && *kBuiltInGoogleClientId != '\0';
}

OAuthMailServer PresetMailServer(const std::string &provider)
{
    if (provider.empty() || provider == kOAuthMicrosoft)
        return { "smtp.office365.com", 587 };
    if (provider == kOAuthGoogle)
        return { "smtp.gmail.com", 587 };
    return {};
}

OAuthSettings ReadOAuthSettings(const std::string &iniPath)
{
    auto get = [&](SettingKey key) { return ReadSetting(iniPath, key); };
    OAuthSettings s;
    s.provider = get(SettingKey::OAuthProvider);
    s.tenant = get(SettingKey::OAuthTenant);
    s.clientId = get(SettingKey::OAuthClientId);
    s.clientSecret = get(SettingKey::OAuthClientSecret);
    s.deviceUrl = get(SettingKey::OAuthDeviceUrl);
    s.authUrl = get(SettingKey::OAuthAuthUrl);
    s.tokenUrl = get(SettingKey::OAuthTokenUrl);
    s.scope = get(SettingKey::OAuthScope);
    return s;
}

} // namespace kestlin
