#include "common/hostname.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <netinet/in.h>

namespace kestlin {

namespace {

// Only the one spelling of an address: "010.1.1.1" is octal to some resolvers.
bool IsIpv4(const std::string &text)
{
    in_addr address {};
    char back[INET_ADDRSTRLEN] = {};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1
           && ::inet_ntop(AF_INET, &address, back, sizeof back) && text == back;
}

bool Ipv6(const std::string &text, std::string &canonical)
{
    in6_addr address {};
    char back[INET6_ADDRSTRLEN] = {};
    if (::inet_pton(AF_INET6, text.c_str(), &address) != 1
        || !::inet_ntop(AF_INET6, &address, back, sizeof back))
        return false;
    canonical = back;
    return true;
}

bool IsLabel(const std::string &label)
{
    return !label.empty() && label.size() <= 63 && label.front() != '-' && label.back() != '-'
           && std::all_of(label.begin(), label.end(),
                          [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
}

bool IsHostName(std::string name)
{
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    if (name.empty() || name.size() > 253)
        return false;
    size_t start = 0;
    std::string label;
    for (;;) {
        const size_t dot = name.find('.', start);
        label = name.substr(start, dot - start);
        if (!IsLabel(label))
            return false;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    // A number at the end is an address, and only a well-formed one is taken.
    const bool numeric
        = std::all_of(label.begin(), label.end(), [](unsigned char c) { return std::isdigit(c); });
    return !numeric || IsIpv4(name);
}

} // namespace

bool IsServerName(const std::string &text)
{
    std::string ignored;
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        return Ipv6(text.substr(1, text.size() - 2), ignored);
    return IsHostName(text);
}

std::string NormalServerName(const std::string &text)
{
    std::string name = text;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    std::string canonical;
    if (Ipv6(name, canonical))
        return canonical;
    if (!IsHostName(name))
        return text;
    if (name.back() == '.')
        name.pop_back();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

} // namespace kestlin
