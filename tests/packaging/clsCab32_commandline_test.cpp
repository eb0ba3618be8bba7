// clsCab32 against the recording stand-in of the library, which lies in this
// test program's folder and so is loaded instead of the real one.
#include "packaging/cab32library.h"
#include "packaging/clsCab32.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestlin {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class CabCommandLine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        record_ = dir_ / "calls.txt";
        ::setenv("KESTLIN_CAB_RECORD", record_.c_str(), 1);
        ::setenv("KESTLIN_CAB_CHECK", "0", 1);
        ::setenv("KESTLIN_CAB_RESULT", "0", 1);
        ::mkdir(Folder().c_str(), 0777);
        WriteFile(Folder() + "/report.xls", "data");
    }
    void TearDown() override { ::unsetenv("KESTLIN_CAB_RECORD"); }

    std::string Folder() const { return dir_ / "Temp"; }

    // The command line that reached the library, empty when Cab was not called.
    std::string CommandLine() const
    {
        std::string calls = ReadFile(record_);
        std::string::size_type at = calls.find("Cab ");
        if (at == std::string::npos)
            return "";
        std::string::size_type start = calls.find('\n', at) + 1;
        return calls.substr(start, calls.find('\n', start) - start);
    }

    TempDir dir_;
    std::string record_;
};

TEST_F(CabCommandLine, NewObjectPacksTheFolderWithMszipAndNoSwitches)
{
    clsCab32 cab;
    cab.InFile(Folder());
    cab.OutFile(dir_ / "TEMPU_FILE.cab");
    ASSERT_TRUE(cab.Cabcmp()) << cab.GetErrMsg();
    EXPECT_EQ(CommandLine(),
              "-a -r -mz \"" + dir_.path() + "/TEMPU_FILE.cab\" \"" + Folder() + "/\" *.*");
    // The check comes first, with mode 1; the library gets room for its reason.
    EXPECT_EQ(ReadFile(record_),
              "CabCheckArchive 1\n" + Folder() + "\nCab 0 buffer 4096\n" + CommandLine() + "\n");
    EXPECT_EQ(cab.GetErrMsg(), "");
}

TEST_F(CabCommandLine, PipelineCallAddsSilentThenOverwrite)
{
    clsCab32 cab;
    cab.OverWrite(true);
    cab.Silent(true);
    cab.InFile(Folder());
    cab.OutFile(dir_ / "TEMPU_FILE.cab");
    ASSERT_TRUE(cab.Cabcmp());
    EXPECT_EQ(CommandLine(),
              "-a -r -i -o -mz \"" + dir_.path() + "/TEMPU_FILE.cab\" \"" + Folder() + "/\" *.*");
}

TEST_F(CabCommandLine, FolderWithoutOutFileIsPackedBesideItself)
{
    clsCab32 cab;
    cab.InFile(Folder());
    ASSERT_TRUE(cab.Cabcmp());
    EXPECT_EQ(CommandLine(), "-a -r -mz \"" + Folder() + ".cab\" \"" + Folder() + "/\" *.*");
}

TEST_F(CabCommandLine, SingleFileGivesTwoSpacesAndThreeQuotedPieces)
{
    clsCab32 cab;
    cab.InFile(Folder() + "/report.xls");
    cab.OutFile(dir_ / "one.cab");
    ASSERT_TRUE(cab.Cabcmp());
    EXPECT_EQ(CommandLine(),
              "-a -r -mz  \"" + dir_.path() + "/one.cab\" \"" + Folder() + "/\" \"report.xls\"");
    cab.OutFile("");
    ::unlink(record_.c_str());
    ASSERT_TRUE(cab.Cabcmp());
    EXPECT_EQ(CommandLine(), "-a -r -mz  \"\" \"" + Folder() + "/\" \"report.xls\"");
}

struct MethodCase
{
    int16_t mode;
    int16_t level;
    bool levelFirst;
    int16_t expectedMode;
    int16_t expectedLevel;
    const char *expectedSwitch;
};

void PrintTo(const MethodCase &c, std::ostream *os)
{
    *os << "MODE " << c.mode << " LEVEL " << c.level << (c.levelFirst ? " (LEVEL first)" : "");
}

class CabMethod : public CabCommandLine, public ::testing::WithParamInterface<MethodCase>
{
};

TEST_P(CabMethod, ModeAndLevelGiveTheSwitch)
{
    const MethodCase &c = GetParam();
    clsCab32 cab;
    if (c.levelFirst) {
        cab.LEVEL(c.level);
        cab.MODE(c.mode);
    } else {
        cab.MODE(c.mode);
        if (c.level >= 0)
            cab.LEVEL(c.level);
    }
    EXPECT_EQ(cab.MODE(), c.expectedMode);
    EXPECT_EQ(cab.LEVEL(), c.expectedLevel);
    cab.InFile(Folder());
    cab.OutFile(dir_ / "x.cab");
    ASSERT_TRUE(cab.Cabcmp());
    EXPECT_EQ(CommandLine(), std::string("-a -r") + c.expectedSwitch + " \"" + dir_.path()
                                 + "/x.cab\" \"" + Folder() + "/\" *.*");
}

INSTANTIATE_TEST_SUITE_P(
    Table, CabMethod,
    ::testing::Values(
        MethodCase { 2, 21, false, 2, 21, " -ml21" }, MethodCase { 2, 30, false, 2, 15, " -ml15" },
        MethodCase { 2, -1, false, 2, 15, " -ml15" }, MethodCase { 2, 21, true, 2, 15, " -ml15" },
        MethodCase { 3, 5, false, 3, 5, " -mq5" }, MethodCase { 3, -1, false, 3, 1, " -mq1" },
        MethodCase { 3, 0, false, 3, 7, " -mq7" }, MethodCase { 3, 8, false, 3, 7, " -mq7" },
        MethodCase { 4, 5, false, 4, 0, " -ms" }, MethodCase { 1, 5, false, 1, 0, " -mz" },
        MethodCase { 9, -1, false, 1, 0, " -mz" }, MethodCase { 0, 3, false, 1, 0, " -mz" }),
    [](const ::testing::TestParamInfo<MethodCase> &info) {
        const MethodCase &c = info.param;
        return std::string(c.levelFirst ? "Level" : "Mode") + std::to_string(c.mode) + "_"
               + (c.level < 0 ? std::string("unset") : std::to_string(c.level));
    });

TEST_F(CabCommandLine, ValidArchiveIsExtractedBesideItself)
{
    ::setenv("KESTLIN_CAB_CHECK", "1", 1);
    clsCab32 cab;
    cab.OverWrite(true);
    cab.Silent(true);
    cab.InFile(dir_ / "b.cab");
    cab.OutFile(dir_ / "ignored.cab");
    ASSERT_TRUE(cab.Cabcmp());
    EXPECT_EQ(CommandLine(),
              "-x -o -i \"" + dir_.path() + "/b.cab\" \"" + dir_.path() + "/b/\" *.*");

    struct Case
    {
        std::string name;
        std::string destination;
    };
    for (const Case &c : { Case { "a.b.cab", "a.b/" }, Case { "archive", "archive/" },
                           Case { ".cab", "" }, Case { "x.", "x./" }, Case { "v.1.", "v/" } }) {
        ::unlink(record_.c_str());
        clsCab32 plain;
        plain.InFile(dir_ / c.name);
        ASSERT_TRUE(plain.Cabcmp());
        EXPECT_EQ(CommandLine(), "-x \"" + dir_.path() + "/" + c.name + "\" \"" + dir_.path() + "/"
                                     + c.destination + "\" *.*")
            << c.name;
    }
}

TEST_F(CabCommandLine, NonZeroResultGivesTheCodeInHexadecimal)
{
    for (auto [result, digits] : { std::pair { "255", "FF" }, std::pair { "-1", "FFFFFFFF" },
                                   std::pair { "32775", "8007" }, std::pair { "1", "1" } }) {
        ::setenv("KESTLIN_CAB_RESULT", result, 1);
        clsCab32 cab;
        cab.InFile(Folder());
        EXPECT_FALSE(cab.Cabcmp());
        EXPECT_EQ(cab.GetErrMsg(),
                  std::string("圧縮解凍処理にに失敗しました。Error Code:0x") + digits);
    }
}

TEST_F(CabCommandLine, FailuresBeforeTheCallNeverReachTheLibrary)
{
    clsCab32 missing;
    missing.InFile(dir_ / "nothing-here");
    EXPECT_FALSE(missing.Cabcmp());
    EXPECT_NE(missing.GetErrMsg().find(dir_ / "nothing-here"), std::string::npos);

    ::setenv("KESTLIN_CAB_CHECK", "1", 1);
    clsCab32 unsplittable;
    unsplittable.InFile("b.cab");
    EXPECT_FALSE(unsplittable.Cabcmp());
    EXPECT_NE(unsplittable.GetErrMsg(), "");

    EXPECT_EQ(CommandLine(), "");
}

TEST_F(CabCommandLine, ReasonOfAnEarlierFailureDoesNotStay)
{
    clsCab32 cab;
    cab.InFile(Folder());
    ::setenv("KESTLIN_CAB_RESULT", "5", 1);
    ASSERT_FALSE(cab.Cabcmp());
    // A failure before the library is called gives its own reason only.
    cab.InFile(dir_ / "nothing-here");
    EXPECT_FALSE(cab.Cabcmp());
    EXPECT_EQ(cab.GetErrMsg().find("Error Code"), std::string::npos);
    cab.InFile(Folder());
    ::setenv("KESTLIN_CAB_RESULT", "0", 1);
    EXPECT_TRUE(cab.Cabcmp());
    EXPECT_EQ(cab.GetErrMsg(), "");
}

TEST_F(CabCommandLine, MissingLibraryOrEntryPointIsNamed)
{
    std::string saved = Cab32LibraryName();
    Cab32LibraryName() = "libkestlin-no-such-cab32.so";
    clsCab32 cab;
    cab.InFile(Folder());
    EXPECT_FALSE(cab.Cabcmp());
    EXPECT_NE(cab.GetErrMsg().find("libkestlin-no-such-cab32.so"), std::string::npos);

    Cab32LibraryName() = "libz.so.1"; // loads, but has neither entry point
    EXPECT_FALSE(cab.Cabcmp());
    EXPECT_NE(cab.GetErrMsg().find("CabCheckArchive"), std::string::npos) << cab.GetErrMsg();
    Cab32LibraryName() = saved;
    EXPECT_EQ(CommandLine(), "");
}

} // namespace
} // namespace kestlin
