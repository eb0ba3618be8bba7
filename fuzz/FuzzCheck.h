#pragma once
// What the harnesses share: a property check that aborts, so that libFuzzer
// saves the input that broke it as a finding (assert would vanish in a
// release build), and a test for valid UTF-8.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iconv.h>
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

// True when the bytes are valid UTF-8 (NUL included), by glibc's decoder.
inline bool IsUtf8(std::string_view text)
{
    static iconv_t cd = ::iconv_open("UTF-32LE", "UTF-8");
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *in = const_cast<char *>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        char buffer[1024];
        char *out = buffer;
        std::size_t room = sizeof buffer;
        if (::iconv(cd, &in, &left, &out, &room) == static_cast<std::size_t>(-1) && errno != E2BIG)
            return false;
    }
    return true;
}

} // namespace kestlin::fuzz
