#include "common/utf8.h"

#include <gtest/gtest.h>
#include <string>

namespace kestlin {
namespace {

// Each row: bytes, then what the walker makes of their start.
struct Utf8Case
{
    std::string bytes;
    std::size_t length;
    bool valid;
    char32_t code;
};

TEST(Utf8, FollowsTheTableOfRfc3629)
{
    const Utf8Case cases[] = {
        { "A", 1, true, U'A' },
        { "\xC2\x80", 2, true, 0x80 },
        { "\xDF\xBF", 2, true, 0x7FF },
        { "\xE0\xA0\x80", 3, true, 0x800 },
        { "\xE7\x9F\xB3", 3, true, U'石' },
        { "\xED\x9F\xBF", 3, true, 0xD7FF },
        { "\xEE\x80\x80", 3, true, 0xE000 },
        { "\xF0\x90\x80\x80", 4, true, 0x10000 },
        { "\xF4\x8F\xBF\xBF", 4, true, 0x10FFFF },
        // Never a lead byte: overlong two-byte forms, beyond U+10FFFF, stray.
        { "\xC0\x80", 1, false, 0 },
        { "\xC1\xBF", 1, false, 0 },
        { "\xF5\x80\x80\x80", 1, false, 0 },
        { "\xF7\xBF\xBF\xBF", 1, false, 0 },
        { "\xFF", 1, false, 0 },
        { "\x80", 1, false, 0 },
        // A lead with a second byte out of its range: overlong, surrogate, too large.
        { "\xE0\x9F\xBF", 1, false, 0 },
        { "\xED\xA0\x80", 1, false, 0 },
        { "\xF0\x8F\xBF\xBF", 1, false, 0 },
        { "\xF4\x90\x80\x80", 1, false, 0 },
        // Cut off or interrupted: the good start is one bad character.
        { "\xE7\x9F", 2, false, 0 },
        { "\xF0\x9F\x98"
          "A",
          3, false, 0 },
    };
    for (const Utf8Case &c : cases) {
        const utf8::Character got = utf8::Next(c.bytes);
        EXPECT_EQ(got.length, c.length) << testing::PrintToString(c.bytes);
        EXPECT_EQ(got.valid, c.valid) << testing::PrintToString(c.bytes);
        if (c.valid) {
            EXPECT_EQ(got.code, c.code) << testing::PrintToString(c.bytes);
        }
    }
    EXPECT_EQ(utf8::Next("").length, 0u);
}

} // namespace
} // namespace kestlin
