#pragma once
#include "arguments.h"
#include "certificate.h"
#include "message.h"
#include "progress.h"

#include <string>

namespace bsmtp {

// Submits the message; "" when the server accepted it, else the reason.
// report, when set, is told how far the message has gone (see ProgressPacer).
// rules: certificates trusted beyond the system's store (see Connection).
std::string Submit(const Server &server, const Sender &sender, const Recipients &recipients,
                   MessageSource &message, const ProgressPacer::Report &report = {},
                   const TrustRules *rules = nullptr);

} // namespace bsmtp
