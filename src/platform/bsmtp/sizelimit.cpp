#include "sizelimit.h"

#include <cmath>
#include <cstdio>

namespace bsmtp {

namespace {

// Megabytes as Windows counts them (1 MB = 1,048,576 bytes), with one
// decimal (two below 1 MB), rounded up or down so that the larger size never
// reads as the smaller one.
std::string Megabytes(int64_t bytes, bool up)
{
    const double megabytes = static_cast<double>(bytes) / (1024.0 * 1024.0);
    const int decimals = megabytes < 1.0 ? 2 : 1;
    const double scale = decimals == 2 ? 100.0 : 10.0;
    const double scaled = megabytes * scale;
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals,
                  (up ? std::ceil(scaled) : std::floor(scaled)) / scale);
    return text;
}

} // namespace

SizeOffer ParseSizeOffer(const std::string &argument)
{
    SizeOffer offer;
    offer.offered = true;
    const size_t start = argument.find_first_not_of(' ');
    if (start == std::string::npos)
        return offer;
    const std::string digits = argument.substr(start, argument.find(' ', start) - start);
    // More than 18 digits is no limit any server has.
    if (digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos)
        return offer;
    offer.limit = std::stoll(digits);
    return offer;
}

std::string TooLargeReason(const SizeOffer &offer, int64_t size, const std::string &server)
{
    if (!offer.offered || offer.limit <= 0 || size <= offer.limit)
        return {};
    return "メールが大きすぎるため送信しませんでした。送信するメールは " + Megabytes(size, true)
           + " MB ですが、SMTPサーバー " + server + " が受け付けるのは "
           + Megabytes(offer.limit, false)
           + " MB までです。添付するファイルを何回かに分けて送信してください"
             "(ファイルはメールにするとおよそ 1.37 倍の大きさになります)。";
}

} // namespace bsmtp
