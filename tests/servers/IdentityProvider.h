#pragma once
// The test identity provider (oauth_provider.py on /usr/bin/python3) on
// 127.0.0.1: device, browser and refresh grants with short-lived access tokens,
// rotation and revocation, stopped by its process id when the object goes.
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestlin::test {

struct IdentityOptions
{
    std::string clientId = "kestlin-test";
    bool deny = false; // the user refuses every authorization
    int accessSeconds = 60;
};

class IdentityProvider
{
public:
    IdentityProvider() = default;
    ~IdentityProvider();
    IdentityProvider(const IdentityProvider &) = delete;
    IdentityProvider &operator=(const IdentityProvider &) = delete;

    bool Start(const IdentityOptions &options, std::string &reason);
    void Stop();
    // "http://127.0.0.1:<port>" followed by path.
    std::string Url(const std::string &path) const;
    // The live access tokens, for SmtpOptions::oauthTokens.
    std::string TokensFile() const { return folder_ + "/access-tokens.json"; }
    // "expire": every access token so far has expired; "revoke": every grant is gone.
    bool Control(const std::string &what) const;
    // "path grant_type" per request, in order.
    std::vector<std::string> Requests() const;

private:
    std::string folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace kestlin::test
