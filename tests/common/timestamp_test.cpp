#include "common/timestamp.h"

#include <gtest/gtest.h>

using namespace kestlin;

TEST(Timestamp, FourFormatsOfOneMoment)
{
    const DateTime t { 2026, 3, 5, 14, 7, 9 };
    EXPECT_EQ(FormatLogStamp(t), "20260305140709");
    EXPECT_EQ(FormatSendFileStamp(t), "20260305140709");
    EXPECT_EQ(FormatLogFolderStamp(t), "20260305_140709");
    EXPECT_EQ(FormatMessageStamp(t), "2026年03月05日14時07分09秒");
}

TEST(Timestamp, MidnightAndTheAfternoonUseTheTwentyFourHourClock)
{
    EXPECT_EQ(FormatLogStamp({ 2026, 12, 31, 0, 0, 0 }), "20261231000000");
    EXPECT_EQ(FormatLogFolderStamp({ 2026, 1, 1, 23, 59, 59 }), "20260101_235959");
}

TEST(Timestamp, NowIsAPlausibleLocalTime)
{
    const DateTime t = Now();
    EXPECT_GE(t.year, 2024);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_LE(t.hour, 23);
}
