#pragma once
// The three grants a desktop mail client needs from an identity provider:
// the device authorization grant (a code the user types in a browser
// anywhere), the authorization code grant with PKCE on a loopback redirect
// (the browser of this machine), and the refresh-token grant before each
// mailing. Errors are values: false and a Japanese reason that carries the
// server's error and error_description, never a token.
#include "mail/OAuthHttp.h"
#include "mail/OAuthProvider.h"

#include <chrono>
#include <functional>
#include <string>

namespace kestlin {

struct OAuthTokens
{
    std::string accessToken;
    std::string refreshToken; // empty when the server kept the one it had
    long expiresIn = 0; // seconds; 0 when not said
};

// What the server said when it refused: its error code and description.
struct OAuthRefusal
{
    std::string error;
    std::string description;
};

struct DeviceAuthorization
{
    std::string deviceCode; // secret to the program
    std::string userCode; // what the user types
    std::string verificationUri;
    std::string verificationUriComplete; // may be empty
    long expiresIn = 0;
    long interval = 5;
};

class OAuthClient
{
public:
    explicit OAuthClient(OAuthEndpoints endpoints)
        : endpoints_(std::move(endpoints))
    { }

    // Asks for a device code and the user code to show.
    bool StartDevice(DeviceAuthorization &device, std::string &reason);
    // Polls until the user approved (true with the tokens), refused, or the
    // code expired. Waits the interval the server asks for between polls,
    // five seconds longer after each slow_down; wait is how it waits (tests
    // and the window pass their own) and returns false to give up.
    bool PollDevice(const DeviceAuthorization &device, OAuthTokens &tokens, std::string &reason,
                    const std::function<bool(std::chrono::seconds)> &wait);

    // The browser address of a sign-in that returns to redirectUri, with the
    // PKCE challenge of verifier and state.
    std::string AuthorizationUrl(const std::string &redirectUri, const std::string &verifier,
                                 const std::string &state) const;
    bool ExchangeCode(const std::string &code, const std::string &redirectUri,
                      const std::string &verifier, OAuthTokens &tokens, std::string &reason);

    // A fresh access token; a rotated refresh token comes back in tokens.
    bool Refresh(const std::string &refreshToken, OAuthTokens &tokens, std::string &reason);

    // The server's words of the last refusal (invalid_grant: the grant is gone).
    const OAuthRefusal &LastRefusal() const { return refusal_; }

private:
    bool TokenRequest(FormFields fields, OAuthTokens &tokens, std::string &reason);

    OAuthEndpoints endpoints_;
    OAuthRefusal refusal_;
};

// A random text of the URL-safe alphabet, from bytes random bytes.
std::string RandomUrlSafe(std::size_t bytes);
// The S256 code challenge of a PKCE verifier.
std::string PkceChallenge(const std::string &verifier);

} // namespace kestlin
