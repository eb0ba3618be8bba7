#include "common/cp932.h"

#include "common/utf8.h"

#include <cerrno>
#include <iconv.h>

namespace kestlin::cp932 {
namespace {

// Converts with iconv, replacing what cannot be converted by "?" and going on.
// skip(bytes) tells how many input bytes a failing character occupies.
template<typename Skip>
std::string Convert(const char *to, const char *from, std::string_view in, Skip skip)
{
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(in.size(), '?');
    out.reserve(in.size() * 3 / 2 + 4);
    char *src = const_cast<char *>(in.data());
    size_t srcLeft = in.size();
    char buffer[4096];
    while (srcLeft > 0) {
        char *dst = buffer;
        size_t dstLeft = sizeof buffer;
        size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, dst - buffer);
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: one character cannot be converted or is cut off.
        size_t n = skip(src, srcLeft);
        out.push_back('?');
        src += n;
        srcLeft -= n;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

size_t SkipUtf8(const char *p, size_t left)
{
    return utf8::Next(std::string_view(p, left)).length;
}

size_t SkipCp932(const char *p, size_t left)
{
    auto lead = static_cast<unsigned char>(*p);
    bool doubleByte = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
    if (!doubleByte || left < 2)
        return 1;
    auto trail = static_cast<unsigned char>(p[1]);
    bool validTrail = trail >= 0x40 && trail <= 0xFC && trail != 0x7F;
    return validTrail ? 2 : 1;
}

} // namespace

std::string FromUtf8(std::string_view utf8)
{
    return Convert("CP932", "UTF-8", utf8, SkipUtf8);
}

std::string ToUtf8(std::string_view bytes)
{
    return Convert("UTF-8", "CP932", bytes, SkipCp932);
}

std::string RoundTrip(std::string_view utf8)
{
    return ToUtf8(FromUtf8(utf8));
}

size_t ByteLength(std::string_view utf8)
{
    return FromUtf8(utf8).size();
}

} // namespace kestlin::cp932
