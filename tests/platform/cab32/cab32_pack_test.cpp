// Archives written by Cab, read back by the real cabextract and 7-Zip.
#include "cab32.h"
#include "cabtools.h"
#include "common/cp932.h"
#include "support/TempDir.h"

#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestlin::test {
namespace {

int32_t RunCab(const std::string &line, std::string *text = nullptr)
{
    char output[1024] = "";
    int32_t rc = Cab(1, line.c_str(), output, sizeof output);
    if (text)
        *text = output;
    return rc;
}

std::string Q(const std::string &s)
{
    return "\"" + s + "\"";
}

std::string Concatenated(const Tree &tree)
{
    std::string all;
    for (const auto &[name, content] : tree)
        all += content;
    return all;
}

class CabPack : public ::testing::TestWithParam<const char *>
{
};

TEST_P(CabPack, SampleTreeReadsBackByteForByteWithCabextractAnd7Zip)
{
    TempDir dir;
    const Tree tree = SampleTree();
    WriteTree(dir / "in", tree);
    const std::string cab = dir / "out.cab";
    std::string text;
    ASSERT_EQ(
        RunCab(std::string("-a -r ") + GetParam() + " " + Q(cab) + " " + Q(dir / "in/") + " *.*",
               &text),
        0)
        << text;

    CommandResult tested = RunShell("cabextract -t " + ShellQuoted(cab));
    EXPECT_EQ(tested.status, 0) << tested.output;
    EXPECT_NE(tested.output.find("All done, no errors."), std::string::npos) << tested.output;
    CommandResult extracted = RunShell("cabextract -q -e CP932 -d "
                                       + ShellQuoted(dir / "cabextract") + " " + ShellQuoted(cab));
    EXPECT_EQ(extracted.status, 0) << extracted.output;
    EXPECT_TRUE(SameTree(ReadTree(dir / "cabextract"), tree));

    CommandResult seven = RunShell(SevenZip() + " t " + ShellQuoted(cab));
    EXPECT_EQ(seven.status, 0) << seven.output;
    EXPECT_NE(seven.output.find("Everything is Ok"), std::string::npos) << seven.output;
    // 7-Zip on Linux turns the "\" byte inside CP932 names such as 表 into a
    // separator before decoding, so its names are compared only where they
    // are ASCII or UTF-8; the data of every file in archive order is compared
    // whole.
    EXPECT_EQ(RunShell(SevenZip() + " x -so " + ShellQuoted(cab)).output, Concatenated(tree));
    ASSERT_EQ(
        RunShell(SevenZip() + " x -o" + ShellQuoted(dir / "7z") + " " + ShellQuoted(cab)).status,
        0);
    Tree bySeven = ReadTree(dir / "7z");
    for (const char *name : { "MAIN_TEXT.txt", "wave〜dash.txt", "big/large.bin" })
        EXPECT_EQ(bySeven[name], tree.at(name)) << name;
}

INSTANTIATE_TEST_SUITE_P(Methods, CabPack, ::testing::Values("-mz", "-ms"), [](const auto &info) {
    return std::string(info.param) == "-mz" ? "Mszip" : "Stored";
});

TEST(CabBlocks, FolderOfEmptyFilesHasNoBlocksAndIsValid)
{
    TempDir dir;
    WriteTree(dir / "in", { { "empty.txt", "" }, { "sub/空.txt", "" } });
    ASSERT_EQ(RunCab("-a -r " + Q(dir / "a.cab") + " " + Q(dir / "in/") + " *.*"), 0);
    EXPECT_TRUE(ParseCabinet(ReadFile(dir / "a.cab")).folders.at(0).blocks.empty());
    CommandResult tested = RunShell("cabextract -t " + ShellQuoted(dir / "a.cab"));
    EXPECT_EQ(tested.status, 0) << tested.output;
    EXPECT_EQ(RunShell(SevenZip() + " t " + ShellQuoted(dir / "a.cab")).status, 0);
    ASSERT_EQ(RunCab("-x " + Q(dir / "a.cab") + " " + Q(dir / "out/")), 0);
    EXPECT_TRUE(SameTree(ReadTree(dir / "out"), { { "empty.txt", "" }, { "sub/空.txt", "" } }));
}

TEST(CabNames, StoredInCp932WhenTheyReadBackElseUtf8WithAttributes)
{
    TempDir dir;
    WriteTree(dir / "in", { { "報告/表ソ能.txt", "x" },
                            { "wave〜.txt", "y" },
                            { "yen¥.txt", "z" },
                            { ".hidden", "h" },
                            { "readonly.txt", "r" } });
    ::chmod((dir / "in/readonly.txt").c_str(), 0444);
    // A known local time, in a zone other than UTC so that local time counts.
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    struct tm local
    {
    };
    local.tm_year = 2024 - 1900;
    local.tm_mon = 1;
    local.tm_mday = 29;
    local.tm_hour = 13;
    local.tm_min = 45;
    local.tm_sec = 59;
    time_t t = ::mktime(&local);
    timespec times[2] = { { t, 0 }, { t, 0 } };
    ::utimensat(AT_FDCWD, (dir / "in/wave〜.txt").c_str(), times, 0);
    ASSERT_EQ(RunCab("-a -r " + Q(dir / "a.cab") + " " + Q(dir / "in/") + " *.*"), 0);
    RawCabinet cab = ParseCabinet(ReadFile(dir / "a.cab"));
    ::unsetenv("TZ");
    ::tzset();

    std::map<std::string, RawFile> byName;
    for (const RawFile &f : cab.files)
        byName[f.name] = f;
    ASSERT_EQ(byName.size(), 5u);
    const std::string japanese = cp932::FromUtf8("報告\\表ソ能.txt");
    ASSERT_TRUE(byName.count(japanese));
    EXPECT_EQ(byName[japanese].attributes, 0x20);
    ASSERT_TRUE(byName.count("wave〜.txt"));
    EXPECT_EQ(byName["wave〜.txt"].attributes, 0x20 | 0x80);
    // 2024-02-29 13:45:58 local: two-second steps.
    EXPECT_EQ(byName["wave〜.txt"].date, (2024 - 1980) << 9 | 2 << 5 | 29);
    EXPECT_EQ(byName["wave〜.txt"].time, 13 << 11 | 45 << 5 | 29);
    EXPECT_EQ(byName["yen¥.txt"].attributes, 0x20 | 0x80) << "¥ would come back as \\";
    EXPECT_EQ(byName[".hidden"].attributes, 0x20 | 0x02);
    EXPECT_EQ(byName["readonly.txt"].attributes, 0x20 | 0x01);
}

TEST(CabBlocks, TextCompressesLikeGzipWithFullBlocks)
{
    TempDir dir;
    const std::string text = ReportText(3 << 20);
    WriteTree(dir / "in", { { "report.csv", text } });
    ASSERT_EQ(RunCab("-a -r " + Q(dir / "a.cab") + " " + Q(dir / "in/") + " *.*"), 0);
    const std::string bytes = ReadFile(dir / "a.cab");
    RawCabinet cab = ParseCabinet(bytes);
    ASSERT_EQ(cab.folders.size(), 1u);
    const auto &blocks = cab.folders[0].blocks;
    ASSERT_EQ(blocks.size(), (text.size() + 32767) / 32768);
    for (size_t i = 0; i + 1 < blocks.size(); ++i)
        ASSERT_EQ(blocks[i].uncompressed, 32768u) << "block " << i;

    // Writers that compress each block on its own lose 10-15 % on such text.
    CommandResult gzip = RunShell("gzip -6 -c " + ShellQuoted(dir / "in/report.csv") + " | wc -c");
    double ratio = static_cast<double>(bytes.size()) / std::stod(gzip.output);
    EXPECT_LE(ratio, 1.01) << bytes.size() << " against " << gzip.output;
}

TEST(CabBlocks, IncompressibleDataStaysWithinTheBlockLimit)
{
    TempDir dir;
    // Text, noise, text again: the compressor changes pace twice.
    const std::string mixed = ReportText(100000) + NoiseBytes(300000) + ReportText(100000);
    WriteTree(dir / "in", { { "mixed.bin", mixed }, { "tail.txt", "after the noise" } });
    ASSERT_EQ(RunCab("-a -r " + Q(dir / "a.cab") + " " + Q(dir / "in/") + " *.*"), 0);
    RawCabinet cab = ParseCabinet(ReadFile(dir / "a.cab"));
    for (const RawBlock &b : cab.folders.at(0).blocks)
        EXPECT_LE(b.compressed, 32768u + 12u);
    EXPECT_EQ(RunShell("cabextract -t " + ShellQuoted(dir / "a.cab")).status, 0);
    EXPECT_TRUE(RunShell(SevenZip() + " x -so " + ShellQuoted(dir / "a.cab")).output
                == mixed + "after the noise");
}

} // namespace
} // namespace kestlin::test
