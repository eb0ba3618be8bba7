#pragma once
// The redirect of a browser sign-in back to this program: a listener on
// 127.0.0.1 (and ::1 at the same port, where it is free, for a browser that
// takes "localhost" to mean ::1) at a port the system picks, which takes the one request that
// brings the authorization code (or the provider's refusal) and answers the
// browser with a short page.
#include <cstddef>
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
    // "http://<host>:<port>/"; host is 127.0.0.1 or localhost (which the
    // Microsoft identity platform's app registrations name).
    std::string RedirectUri(const std::string &host) const;

    // Waits up to timeoutMs for the browser. Code: code() holds the
    // authorization code. Failed: reason says why (the provider's refusal).
    // A request without the expected state is answered and ignored.
    Wait Poll(int timeoutMs, const std::string &state, std::string &reason);
    const std::string &code() const { return code_; }

private:
    Wait Serve(int connection, const std::string &state, std::string &reason);

    int listeners_[2] = { -1, -1 }; // IPv4, IPv6
    int port_ = 0;
    std::string code_;
};

} // namespace kestlin
