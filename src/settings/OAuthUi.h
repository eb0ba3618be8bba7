#pragma once
// The 「認可」 of the settings dialog: the one-time OAuth 2.0 authorization of
// a settings folder from the window. The user's browser opens the provider's
// sign-in and comes back to this program; where no browser can be started, a
// small window shows the address and the code to type on any device.
#include "mail/OAuthProvider.h"

#include <string>

class QWidget;

namespace kestlin {

class Display;

// Shows how it ended through display. True when a grant is stored.
bool AuthorizeInWindow(QWidget *owner, Display &display, const std::string &iniPath,
                       const OAuthSettings &settings);

} // namespace kestlin
