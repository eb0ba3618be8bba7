#pragma once
// Where a sign-in with OAuth 2.0 gets its tokens: the presets of the two
// providers most reporting companies use, and what [OAUTH] of the settings
// file adds or overrides.
#include <string>

namespace kestlin {

// [OAUTH] as stored; every text may be empty.
struct OAuthSettings
{
    std::string provider; // "microsoft" (also when empty), "google" or "custom"
    std::string tenant; // Microsoft only; empty: "organizations"
    std::string clientId; // empty: the one this build was made with, if any
    std::string clientSecret; // Google's desktop clients have one, not kept secret
    std::string deviceUrl, authUrl, tokenUrl, scope; // override the preset
};

struct OAuthEndpoints
{
    std::string provider; // "microsoft", "google" or "custom"
    std::string clientId, clientSecret;
    std::string deviceUrl; // empty: this provider has no device grant for mail
    std::string authUrl; // empty: no browser sign-in
    std::string tokenUrl;
    std::string scope;
    // Google hands out a refresh token to a browser sign-in only when asked.
    bool askOffline = false;
    // The host of the loopback redirect: the app registrations of the
    // Microsoft identity platform name "http://localhost"; elsewhere the
    // address itself, as native apps are advised to use.
    std::string loopbackHost = "127.0.0.1";
};

// The SMTP server a preset provider's mailboxes use.
struct OAuthMailServer
{
    std::string host;
    int port = 0;
};

// The provider names a settings file may hold, as shown in the settings dialog.
inline constexpr const char *kOAuthMicrosoft = "microsoft";
inline constexpr const char *kOAuthGoogle = "google";
inline constexpr const char *kOAuthCustom = "custom";

// The preset endpoints with the settings' overrides. False with a Japanese
// reason when they do not make a usable provider (unknown provider, no client
// ID, no token endpoint, an address that may not carry a token).
bool ResolveOAuth(const OAuthSettings &settings, OAuthEndpoints &endpoints, std::string &reason);

// microsoft (also the empty text), google or custom.
bool IsOAuthProvider(const std::string &provider);
// This build carries a client ID for the provider.
bool HasBuiltInClient(const std::string &provider);

// Empty host for custom.
OAuthMailServer PresetMailServer(const std::string &provider);

// Reads [OAUTH] from the settings file.
OAuthSettings ReadOAuthSettings(const std::string &iniPath);

} // namespace kestlin
