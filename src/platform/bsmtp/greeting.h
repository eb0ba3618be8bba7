#pragma once
// The name this machine gives in EHLO. Servers that insist on a fully
// qualified name (Postfix's reject_non_fqdn_helo_hostname) refuse a bare
// host name, so it is either a name with a dot or the address literal of
// our end of the connection.
#include <string>

namespace bsmtp {

// The machine's canonical name as the resolver knows it, or its host name;
// "" when neither is a domain name with a dot.
std::string QualifiedHostName();

// qualified when it is not empty, else localAddress as "[192.0.2.1]" or
// "[IPv6:2001:db8::1]"; "[127.0.0.1]" when that is not known either.
std::string GreetingName(const std::string &qualified, const std::string &localAddress);

} // namespace bsmtp
