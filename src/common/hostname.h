#pragma once
// Mail server names as the settings take them and the mail library uses them.
// A server name ends up in a URL: "/", "?", "#", "@" or a stray ":" there
// would change the host or port that is reached, not just the spelling.
#include <string>

namespace kestlin {

// A host name (dot-separated labels of letters, digits, "-" and "_", one final
// dot allowed), an IPv4 address in dotted decimal, or an IPv6 address in
// brackets. Nothing else.
bool IsServerName(const std::string &text);

// The name as keys and certificate checks compare it: lower case, no final
// dot, an IPv6 address (with or without brackets) in its canonical form and
// without brackets. Text that is no server name comes back unchanged.
std::string NormalServerName(const std::string &text);

} // namespace kestlin
