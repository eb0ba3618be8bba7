#pragma once
// The redirect of a browser sign-in back to this program: a listener on
// 127.0.0.1 at a port the system picks, which takes the one request that
// brings the authorization code (or the provider's refusal) and answers the
// browser with a short page.
#include <string>

namespace kestlin {

class OAuthLoopback
{
public:
    enum class Wait { Pending, Code, Failed };

    OAuthLoopback() = default;
    ~OAuthLoopback();
    OAuthLoopback(const OAuthLoopback &) = delete;
    OAuthLoopback &operator=(const OAuthLoopback &) = delete;

    // False with a reason when no port could be opened.
    bool Open(std::string &reason);
    // "http://127.0.0.1:<port>/"
    std::string RedirectUri() const;

    // Waits up to timeoutMs for the browser. Code: code() holds the
    // authorization code. Failed: reason says why (the provider's refusal).
    // A request without the expected state is answered and ignored.
    Wait Poll(int timeoutMs, const std::string &state, std::string &reason);
    const std::string &code() const { return code_; }

private:
    Wait Serve(int connection, const std::string &state, std::string &reason);

    int listener_ = -1;
    int port_ = 0;
    std::string code_;
};

} // namespace kestlin
