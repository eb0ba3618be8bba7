#include "common/cp932.h"

#include <gtest/gtest.h>

using namespace kestlin;

TEST(Cp932, ConvertsCharactersWhoseSecondByteIsBackslash)
{
    // 表, ソ and 能 end in 0x5C: a byte-wise reader that takes it for "\" breaks them.
    EXPECT_EQ(cp932::FromUtf8("表ソ能"), "\x95\x5C\x83\x5C\x94\x5C");
    EXPECT_EQ(cp932::ToUtf8("\x95\x5C\x83\x5C\x94\x5C"), "表ソ能");
    EXPECT_EQ(cp932::ByteLength("表ソ能"), 6u);
}

TEST(Cp932, HalfWidthKatakanaTakesOneByte)
{
    EXPECT_EQ(cp932::FromUtf8("ｱｲｳﾞ"), "\xB1\xB2\xB3\xDE");
    EXPECT_EQ(cp932::ToUtf8("\xB1\xB2\xB3\xDE"), "ｱｲｳﾞ");
    EXPECT_EQ(cp932::ByteLength("ﾌｧｲﾙ"), 4u);
}

TEST(Cp932, CharactersOutsideTheCodePageBecomeQuestionMarks)
{
    EXPECT_EQ(cp932::FromUtf8("a𠮷b😀c"), "a?b?c");
    EXPECT_EQ(cp932::ByteLength("𠮷"), 1u);
    EXPECT_EQ(cp932::RoundTrip("石油𠮷"), "石油?");
    // Microsoft's extensions are in the code page.
    EXPECT_EQ(cp932::FromUtf8("①㈱髙"), "\x87\x40\x87\x8A\xFB\xFC");
}

TEST(Cp932, InvalidInputBecomesQuestionMarksWithoutLosingWhatFollows)
{
    EXPECT_EQ(cp932::FromUtf8("a\xFF"
                              "b"),
              "a?b");
    EXPECT_EQ(cp932::FromUtf8("a\xE8\xA1"), "a?"); // cut off in the middle
    EXPECT_EQ(cp932::ToUtf8("a\x81"), "a?"); // lead byte without trail
    EXPECT_EQ(cp932::ToUtf8("a\xA0"
                            "b"),
              "a?b");
}

TEST(Cp932, OneWayMappingsFollowTheWindowsBestFit)
{
    EXPECT_EQ(cp932::FromUtf8("〜"), "\x81\x60");
    EXPECT_EQ(cp932::FromUtf8("～"), "\x81\x60");
    EXPECT_EQ(cp932::RoundTrip("〜"), "～");
    EXPECT_EQ(cp932::FromUtf8("−"), "\x81\x7C");
    EXPECT_EQ(cp932::RoundTrip("−"), "－");
    EXPECT_EQ(cp932::FromUtf8("¥"), "\\");
}

TEST(Cp932, LongTextsConvertCompletely)
{
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "石油a";
    EXPECT_EQ(cp932::ByteLength(text), 5000u * 5u);
    EXPECT_EQ(cp932::RoundTrip(text), text);
}
