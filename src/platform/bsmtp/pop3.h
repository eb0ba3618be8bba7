#pragma once
#include "arguments.h"
#include "certificate.h"

#include <string>

namespace bsmtp {

// Signs in to the POP3 mailbox and runs command; false with the reason.
// rules: certificates trusted beyond the system's store (see Connection).
bool Pop3Command(const Server &server, const std::string &user, const std::string &password,
                 const std::string &command, std::string &answer,
                 const TrustRules *rules = nullptr);

} // namespace bsmtp
