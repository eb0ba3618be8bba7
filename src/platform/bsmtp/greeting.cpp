#include "greeting.h"

#include <arpa/inet.h>
#include <cctype>
#include <netdb.h>
#include <unistd.h>

namespace bsmtp {

namespace {

// Labels of letters, digits and hyphens, at least two of them.
bool IsDottedDomain(const std::string &name)
{
    if (name.empty() || name.size() > 253 || name.find('.') == std::string::npos
        || name.front() == '.' || name.back() == '.' || name.front() == '-'
        || name.find("..") != std::string::npos)
        return false;
    for (const char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-')
            return false;
    }
    // An address is no name (no top-level domain is all digits), and
    // "localhost.localdomain" names no machine that a server can check.
    const std::string top = name.substr(name.rfind('.') + 1);
    return top.find_first_not_of("0123456789") != std::string::npos
           && name.rfind("localhost", 0) != 0;
}

} // namespace

std::string QualifiedHostName()
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0])
        return {};
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo *found = nullptr;
    std::string canonical;
    if (::getaddrinfo(host, nullptr, &hints, &found) == 0 && found) {
        if (found->ai_canonname)
            canonical = found->ai_canonname;
        ::freeaddrinfo(found);
    }
    if (IsDottedDomain(canonical))
        return canonical;
    return IsDottedDomain(host) ? host : std::string();
}

std::string GreetingName(const std::string &qualified, const std::string &localAddress)
{
    if (!qualified.empty())
        return qualified;
    // A link-local address may carry its interface ("%eth0"): not part of
    // the literal.
    std::string address = localAddress.substr(0, localAddress.find('%'));
    unsigned char bytes[sizeof(in6_addr)];
    if (::inet_pton(AF_INET, address.c_str(), bytes) == 1)
        return "[" + address + "]";
    if (::inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
        // An IPv4 peer reached over an IPv6 socket.
        const std::string mapped = "::ffff:";
        if (address.rfind(mapped, 0) == 0 && address.find('.') != std::string::npos)
            return "[" + address.substr(mapped.size()) + "]";
        return "[IPv6:" + address + "]";
    }
    return "[127.0.0.1]";
}

} // namespace bsmtp
