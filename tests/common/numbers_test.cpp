#include "common/numbers.h"

#include <cstdint>
#include <gtest/gtest.h>

using namespace kestlin;

TEST(ToInteger, ConvertsAsTheRunTimeDidAndNamesTheFailure)
{
    struct Case
    {
        const char *text;
        bool ok;
        int64_t value;
        const char *errText;
    };
    const Case cases[] = {
        { "25", true, 25, "" },
        { " 587 ", true, 587, "" },
        { "-1", true, -1, "" },
        { "2.5", true, 2, "" },
        { "3.5", true, 4, "" },
        { "2.51", true, 3, "" },
        { "", false, 0, "型が一致しません。" },
        { "abc", false, 0, "型が一致しません。" },
        { "25x", false, 0, "型が一致しません。" },
        { "2147483648", false, 0, "オーバーフローしました。" },
        { "99999999999999999999999", false, 0, "オーバーフローしました。" },
    };
    for (const Case &c : cases) {
        int64_t value = 0;
        std::string errText;
        EXPECT_EQ(ToInteger(c.text, INT32_MIN, INT32_MAX, value, errText), c.ok) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_EQ(errText, c.errText) << c.text;
    }
    int64_t value = 0;
    std::string errText;
    EXPECT_FALSE(ToInteger("32768", INT16_MIN, INT16_MAX, value, errText));
}
