#pragma once
#include "arguments.h"
#include "certificate.h"
#include "message.h"
#include "progress.h"

#include <string>

namespace bsmtp {

// Sender::method for an OAuth 2.0 access token in Sender::password: SASL
// XOAUTH2 where the server offers it, else OAUTHBEARER.
inline constexpr char kBearer[] = "BEARER";

// What became of the message: Unknown when its last byte went and no
// sensible reply to it came, so that the server may hold it.
enum class Delivery { NotSent, Accepted, Unknown };

// Submits the message; "" when the server accepted it, else the reason.
// report, when set, is told how far the message has gone (see ProgressPacer).
// rules: certificates trusted beyond the system's store (see Connection).
// delivery, when set, receives what became of the message.
std::string Submit(const Server &server, const Sender &sender, const Recipients &recipients,
                   MessageSource &message, const ProgressPacer::Report &report = {},
                   const TrustRules *rules = nullptr, Delivery *delivery = nullptr);

} // namespace bsmtp
