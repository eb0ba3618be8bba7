#pragma once
// Signing in to the mail server with OAuth 2.0 for one settings file: the
// provider from [OAUTH], the grant from the token file beside the settings,
// and what the user is told to do when that grant is missing or gone.
#include "mail/OAuthClient.h"
#include "mail/OAuthLoopback.h"

#include <memory>
#include <string>

namespace kestlin {

// What to do when the grant is missing, expired or revoked.
inline constexpr const char *kAuthorizeAgain
    = "kestlin --authorize を実行するか、設定画面の「認可」を押して、もう一度認可してください。";

// The provider of the settings file; false with a reason naming the key.
bool OAuthEndpointsOf(const std::string &iniPath, OAuthEndpoints &endpoints, std::string &reason);

// A fresh access token from the stored grant; a rotated refresh token is
// stored at once. False with a Japanese reason that says what to do.
bool FreshAccessToken(const std::string &iniPath, std::string &accessToken, std::string &reason);

// Why a mailing could not sign in with what is stored, without asking the
// provider; empty when a grant for this provider and client is there.
std::string StoredGrantProblem(const std::string &iniPath);

// Stores the grant of a finished authorization.
bool KeepGrant(const std::string &iniPath, const OAuthEndpoints &endpoints,
               const OAuthTokens &tokens, std::string &reason);

// A sign-in in the browser of this machine that comes back to a loopback
// address: Begin gives the address to open, Poll waits for the browser a
// little at a time (so that a window stays responsive) and, once the code is
// there, exchanges it and stores the grant.
class BrowserAuthorization
{
public:
    enum class State { Waiting, Done, Failed };

    BrowserAuthorization(std::string iniPath, OAuthEndpoints endpoints);
    // False with a reason when the provider has no browser sign-in or no port opens.
    bool Begin(std::string &url, std::string &reason);
    State Poll(int timeoutMs, std::string &reason);

private:
    std::string iniPath_;
    OAuthEndpoints endpoints_;
    OAuthLoopback loopback_;
    std::string verifier_, state_;
};

} // namespace kestlin
