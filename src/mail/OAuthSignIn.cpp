#include "mail/OAuthSignIn.h"

#include "mail/OAuthTokenStore.h"

#include <openssl/crypto.h>

namespace kestlin {

namespace {

// The grant was made for another provider or client: it cannot be used.
bool SameIssuer(const StoredGrant &grant, const OAuthEndpoints &endpoints)
{
    return grant.tokenUrl == endpoints.tokenUrl && grant.clientId == endpoints.clientId;
}

constexpr const char *kOtherIssuer
    = "保存されている認可は、別の認可サーバーかクライアントIDのものです。";

void Wipe(std::string &secret)
{
    OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

} // namespace

bool OAuthEndpointsOf(const std::string &iniPath, OAuthEndpoints &endpoints, std::string &reason)
{
    return ResolveOAuth(ReadOAuthSettings(iniPath), endpoints, reason);
}

std::string StoredGrantProblem(const std::string &iniPath)
{
    OAuthEndpoints endpoints;
    std::string reason;
    if (!OAuthEndpointsOf(iniPath, endpoints, reason))
        return reason;
    StoredGrant grant;
    if (!LoadGrant(TokenStorePath(iniPath), grant, reason))
        return reason + "\n" + kAuthorizeAgain;
    Wipe(grant.refreshToken);
    if (!SameIssuer(grant, endpoints))
        return std::string(kOtherIssuer) + "\n" + kAuthorizeAgain;
    return {};
}

bool FreshAccessToken(const std::string &iniPath, std::string &accessToken, std::string &reason)
{
    OAuthEndpoints endpoints;
    if (!OAuthEndpointsOf(iniPath, endpoints, reason))
        return false;
    const std::string path = TokenStorePath(iniPath);
    StoredGrant grant;
    if (!LoadGrant(path, grant, reason)) {
        reason += "\n" + std::string(kAuthorizeAgain);
        return false;
    }
    if (!SameIssuer(grant, endpoints)) {
        Wipe(grant.refreshToken);
        reason = std::string(kOtherIssuer) + "\n" + kAuthorizeAgain;
        return false;
    }
    OAuthClient client(endpoints);
    OAuthTokens tokens;
    const bool ok = client.Refresh(grant.refreshToken, tokens, reason);
    if (!ok) {
        Wipe(grant.refreshToken);
        // invalid_grant: expired, revoked or replaced; the user must sign in again.
        if (client.LastRefusal().error == "invalid_grant")
            reason = "OAuth 2.0 の認可の期限が切れたか、取り消されています。\n"
                     + std::string(kAuthorizeAgain) + "\n" + reason;
        return false;
    }
    if (!tokens.refreshToken.empty() && tokens.refreshToken != grant.refreshToken) {
        grant.refreshToken = tokens.refreshToken;
        if (!SaveGrant(path, grant, reason)) {
            Wipe(grant.refreshToken);
            Wipe(tokens.refreshToken);
            Wipe(tokens.accessToken);
            return false;
        }
    }
    Wipe(grant.refreshToken);
    Wipe(tokens.refreshToken);
    accessToken = std::move(tokens.accessToken);
    return true;
}

bool KeepGrant(const std::string &iniPath, const OAuthEndpoints &endpoints,
               const OAuthTokens &tokens, std::string &reason)
{
    StoredGrant grant { endpoints.tokenUrl, endpoints.clientId, tokens.refreshToken };
    const bool ok = SaveGrant(TokenStorePath(iniPath), grant, reason);
    Wipe(grant.refreshToken);
    return ok;
}

BrowserAuthorization::BrowserAuthorization(std::string iniPath, OAuthEndpoints endpoints)
    : iniPath_(std::move(iniPath))
    , endpoints_(std::move(endpoints))
{ }

bool BrowserAuthorization::Begin(std::string &url, std::string &reason)
{
    if (endpoints_.authUrl.empty()) {
        reason = "この認可サーバーではブラウザによる認可を使えません（[OAUTH] AUTHURL）。";
        return false;
    }
    if (!loopback_.Open(reason))
        return false;
    verifier_ = RandomUrlSafe(32);
    state_ = RandomUrlSafe(16);
    if (verifier_.empty() || state_.empty()) {
        reason = "認可に使う乱数を作れません。";
        return false;
    }
    url = OAuthClient(endpoints_)
              .AuthorizationUrl(loopback_.RedirectUri(endpoints_.loopbackHost), verifier_, state_);
    return true;
}

BrowserAuthorization::State BrowserAuthorization::Poll(int timeoutMs, std::string &reason)
{
    switch (loopback_.Poll(timeoutMs, state_, reason)) {
    case OAuthLoopback::Wait::Pending:
        return State::Waiting;
    case OAuthLoopback::Wait::Failed:
        return State::Failed;
    case OAuthLoopback::Wait::Code:
        break;
    }
    OAuthClient client(endpoints_);
    OAuthTokens tokens;
    const bool ok
        = client.ExchangeCode(loopback_.code(), loopback_.RedirectUri(endpoints_.loopbackHost),
                              verifier_, tokens, reason)
          && KeepGrant(iniPath_, endpoints_, tokens, reason);
    Wipe(tokens.accessToken);
    Wipe(tokens.refreshToken);
    return ok ? State::Done : State::Failed;
}

} // namespace kestlin
