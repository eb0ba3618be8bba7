#pragma once
// What the harnesses share: a property check that aborts, so that libFuzzer
// saves the input that broke it as a finding (assert would vanish in a
// release build), and glibc's converters to make or test encoded text.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iconv.h>
#include <optional>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition) \
    do { \
        if (!(condition)) { \
            std::fprintf(stderr, "property violated: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__); \
            std::abort(); \
        } \
    } while (0)

namespace kestlin::fuzz {

// The text converted, or nothing when any of it does not convert.
inline std::optional<std::string> Convert(std::string_view text, const char *to, const char *from)
{
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        std::abort();
    std::string out;
    char *in = const_cast<char *>(text.data());
    std::size_t left = text.size();
    bool ok = true;
    while (ok && left > 0) {
        char buffer[1024];
        char *next = buffer;
        std::size_t room = sizeof buffer;
        ok = ::iconv(cd, &in, &left, &next, &room) != static_cast<std::size_t>(-1)
             || errno == E2BIG;
        out.append(buffer, static_cast<std::size_t>(next - buffer));
    }
    ::iconv_close(cd);
    return ok ? std::optional<std::string>(out) : std::nullopt;
}

// True when the bytes are valid UTF-8 (NUL included).
inline bool IsUtf8(std::string_view text)
{
    return Convert(text, "UTF-32LE", "UTF-8").has_value();
}

} // namespace kestlin::fuzz
