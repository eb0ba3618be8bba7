#pragma once
#include "arguments.h"

#include <string>

namespace bsmtp {

// Signs in to the POP3 mailbox and runs command; false with the reason.
bool Pop3Command(const Server &server, const std::string &user, const std::string &password,
                 const std::string &command, std::string &answer);

} // namespace bsmtp
