#pragma once
// kestlin --authorize: the one-time OAuth 2.0 authorization of a settings
// file on the terminal. With a device grant the user opens the address shown
// on any device and types the code; without one (Google, whose device grant
// does not cover mail) the address is for a browser on this machine.
#include "startup/Terminal.h"

#include <string>

namespace kestlin {

// The exit status: done when a refresh token is stored, refused when the
// settings name no usable provider, not sent (3) with the server's reason
// otherwise.
int RunAuthorize(const std::string &iniPath, Terminal &terminal);

} // namespace kestlin
