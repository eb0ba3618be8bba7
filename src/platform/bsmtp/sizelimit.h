#pragma once
// The SIZE extension: the server says in its EHLO reply that it takes
// declared sizes and, maybe, the largest message it accepts. A message over
// that limit is not sent at all; any other is declared on MAIL FROM so that
// the server can refuse it before the first byte.
#include <cstdint>
#include <string>

namespace bsmtp {

struct SizeOffer
{
    bool offered = false;
    int64_t limit = 0; // bytes; 0: none announced
};

// Reads the words after "SIZE" in an EHLO reply line ("SIZE 10240000",
// "SIZE", "SIZE 0"); a limit that is no number counts as none.
SizeOffer ParseSizeOffer(const std::string &argument);

// The failure text when a message of size bytes is over the server's
// limit; "" when it is not.
std::string TooLargeReason(const SizeOffer &offer, int64_t size, const std::string &server);

} // namespace bsmtp
