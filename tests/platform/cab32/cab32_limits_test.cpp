// What Cab refuses, and the writer at its limits (lowered through the
// library's inner interface where the real ones would take gigabytes).
#include "cab32.h"
#include "cabtools.h"
#include "pack.h"
#include "support/TempDir.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestlin::test {
namespace {

using cab32::Limits;

std::string Q(const std::string &s)
{
    return "\"" + s + "\"";
}

int32_t RunCab(const std::string &line)
{
    return Cab(1, line.c_str(), nullptr, 0);
}

std::string PackLine(const TempDir &dir, const std::string &switches = "")
{
    return "-a -r" + switches + " " + Q(dir / "out/a.cab") + " " + Q(dir / "in/") + " *.*";
}

// Names in a folder: after a failure there is neither archive nor leftover.
std::vector<std::string> Names(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

class CabBadInput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir_ / "out");
        WriteTree(dir_ / "in", { { "a.txt", "a" }, { "sub/b.txt", "b" } });
    }
    TempDir dir_;
};

TEST_F(CabBadInput, InputProblemsGiveTheirCodesAndNoArchive)
{
    EXPECT_EQ(RunCab("-a -r " + Q(dir_ / "out/a.cab") + " " + Q(dir_ / "none/") + " *.*"),
              CAB32_E_NOINPUT);
    std::filesystem::create_directories(dir_ / "empty/sub");
    EXPECT_EQ(RunCab("-a -r " + Q(dir_ / "out/a.cab") + " " + Q(dir_ / "empty/") + " *.*"),
              CAB32_E_NOFILES);
    {
        PermissionsEnforced enforced;
        ::chmod((dir_ / "in/sub/b.txt").c_str(), 0);
        EXPECT_EQ(RunCab(PackLine(dir_)), CAB32_E_READ);
        ::chmod((dir_ / "in/sub/b.txt").c_str(), 0644);
        ::chmod((dir_ / "in/sub").c_str(), 0);
        EXPECT_EQ(RunCab(PackLine(dir_)), CAB32_E_READ);
        ::chmod((dir_ / "in/sub").c_str(), 0755);
    }
    EXPECT_TRUE(Names(dir_ / "out").empty());
}

TEST_F(CabBadInput, OutputProblemsGiveTheirCodesAndLeaveNothing)
{
    EXPECT_EQ(RunCab("-a -r " + Q(dir_ / "missing/a.cab") + " " + Q(dir_ / "in/") + " *.*"),
              CAB32_E_WRITE);
    {
        PermissionsEnforced enforced;
        ::chmod((dir_ / "out").c_str(), 0555);
        EXPECT_EQ(RunCab(PackLine(dir_)), CAB32_E_WRITE);
        ::chmod((dir_ / "out").c_str(), 0755);
    }
    WriteFile(dir_ / "out/a.cab", "keep me");
    EXPECT_EQ(RunCab(PackLine(dir_)), CAB32_E_EXISTS);
    EXPECT_EQ(ReadFile(dir_ / "out/a.cab"), "keep me");
    EXPECT_EQ(Names(dir_ / "out"), std::vector<std::string> { "a.cab" });
    EXPECT_EQ(RunCab(PackLine(dir_, " -o")), 0);
    EXPECT_EQ(CabCheckArchive((dir_ / "out/a.cab").c_str(), CAB32_CHECK_FULL), 1);
}

TEST_F(CabBadInput, FullDiskFailsAndRemovesThePartialArchive)
{
    const std::string small = dir_ / "small";
    std::filesystem::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    WriteFile(dir_ / "in/noise.bin", NoiseBytes(200000));
    int32_t rc = RunCab("-a -r " + Q(small + "/a.cab") + " " + Q(dir_ / "in/") + " *.*");
    std::vector<std::string> left = Names(small);
    ::umount(small.c_str());
    EXPECT_EQ(rc, CAB32_E_WRITE);
    EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(CabBadInput, CommandLineMistakes)
{
    const std::string in = Q(dir_ / "in/");
    const std::string out = Q(dir_ / "out/a.cab");
    struct Case
    {
        std::string line;
        int32_t code;
    } cases[] = {
        { "-a -r \"" + dir_.path() + "/out/a.cab " + in + " *.*", CAB32_E_CMDLINE },
        { "-a -r " + out + " " + in + " \"*.*", CAB32_E_CMDLINE },
        { "-a -r " + out, CAB32_E_CMDLINE },
        { "", CAB32_E_CMDLINE },
        { "-a -x " + out + " " + in, CAB32_E_CMDLINE },
        { "-a -q " + out + " " + in + " *.*", CAB32_E_SWITCH },
        { "-a -ml22 " + out + " " + in + " *.*", CAB32_E_SWITCH },
        { "-a -mq0 " + out + " " + in + " *.*", CAB32_E_SWITCH },
        { "-a -mzip " + out + " " + in + " *.*", CAB32_E_SWITCH },
        { "-a -ml21 " + out + " " + in + " *.*", CAB32_E_METHOD },
        { "-a -mq7 " + out + " " + in + " *.*", CAB32_E_METHOD },
    };
    for (const Case &c : cases)
        EXPECT_EQ(RunCab(c.line), c.code) << c.line;
    EXPECT_EQ(Cab(1, nullptr, nullptr, 0), CAB32_E_CMDLINE);
    EXPECT_TRUE(Names(dir_ / "out").empty());
}

TEST_F(CabBadInput, NamesTheReceivingWindowsCannotUnpackAreRefusedReadably)
{
    const std::string cannot = "Windows で使えない名前です (";
    const std::pair<Tree, std::string> cases[] = {
        { { { "a:b.txt", "x" } }, cannot + "\\ / : * ? \" < > | と制御文字は使えません): a:b.txt" },
        { { { "sub./c.txt", "x" } },
          cannot + "名前の最後にピリオドや空白は使えません): sub./c.txt" },
        { { { "d/nul.txt", "x" } },
          cannot
              + "CON、PRN、AUX、NUL、COM1～COM9、LPT1～LPT9 は拡張子を付けても使えません): "
                "d/nul.txt" },
        { { { "Report.xls", "1" }, { "report.XLS", "2" } },
          "Windows では同じ名前になります: Report.xls と report.XLS" },
        { { { "Ａ", "1" }, { "ａ/b.txt", "2" } }, "Windows では同じ名前になります: Ａ と ａ" },
    };
    for (const auto &[tree, text] : cases) {
        std::filesystem::remove_all(dir_ / "in");
        WriteTree(dir_ / "in", tree);
        char output[512] = "";
        EXPECT_EQ(Cab(1, PackLine(dir_).c_str(), output, sizeof output), CAB32_E_BADNAME);
        EXPECT_EQ(output, text);
    }
    // Folders that differ in case only are one folder there, which is harmless.
    std::filesystem::remove_all(dir_ / "in");
    WriteTree(dir_ / "in", { { "Dir/a.txt", "1" }, { "dir/b.txt", "2" } });
    EXPECT_EQ(RunCab(PackLine(dir_)), 0);
}

TEST_F(CabBadInput, OutputTextIsCutWithinTheBufferOnACharacterBoundary)
{
    char big[512];
    ASSERT_EQ(Cab(1, "-a -q x y", big, sizeof big), CAB32_E_SWITCH);
    std::string whole = big;
    EXPECT_NE(whole.find("-q"), std::string::npos);
    for (int32_t size : { 1, 2, 4, 5, 6 }) {
        char small[8];
        std::memset(small, 'X', sizeof small);
        Cab(1, "-a -q x y", small, size);
        std::string cut = small;
        EXPECT_LT(cut.size(), static_cast<size_t>(size));
        EXPECT_EQ(whole.compare(0, cut.size(), cut), 0);
        EXPECT_EQ(small[size], 'X') << "wrote past the buffer";
        EXPECT_TRUE(cut.empty() || (static_cast<unsigned char>(whole[cut.size()]) & 0xC0) != 0x80);
    }
}

TEST_F(CabBadInput, PatternsAndDefaultArchiveNames)
{
    WriteTree(dir_ / "in", { { "c.csv", "c" }, { "sub/d.csv", "d" } });
    ASSERT_EQ(RunCab("-a -r \"\" " + Q(dir_ / "in/") + " *.*"), 0);
    EXPECT_EQ(CabCheckArchive((dir_ / "in.cab").c_str(), 1), 1) << "folder name + .cab";
    ASSERT_EQ(RunCab("-a -r  \"\" " + Q(dir_ / "in/") + " \"a.txt\""), 0);
    RawCabinet one = ParseCabinet(ReadFile(dir_ / "in/a.cab"));
    ASSERT_EQ(one.files.size(), 1u) << "a name without wildcards is that one file";
    EXPECT_EQ(one.files[0].name, "a.txt");

    ASSERT_EQ(RunCab("-a -r " + Q(dir_ / "out/r.cab") + " " + Q(dir_ / "in/") + " *.csv"), 0);
    EXPECT_EQ(ParseCabinet(ReadFile(dir_ / "out/r.cab")).files.size(), 2u);
    ASSERT_EQ(RunCab("-a " + Q(dir_ / "out/flat.cab") + " " + Q(dir_ / "in/") + " *.csv"), 0);
    EXPECT_EQ(ParseCabinet(ReadFile(dir_ / "out/flat.cab")).files.size(), 1u) << "-r not given";
}

Tree FolderSplitTree()
{
    return { { "a", NoiseBytes(40000, 1) },
             { "b", NoiseBytes(40000, 2) },
             { "c", ReportText(3 * 32768) },
             { "d", "d" } };
}

TEST(CabLimits, NewFolderBeforeTheBlockLimitIsReached)
{
    TempDir dir;
    WriteTree(dir / "in", FolderSplitTree());
    Limits limits;
    limits.maxBlocksPerFolder = 3;
    std::string summary;
    const std::string line = "-a -r " + Q(dir / "a.cab") + " " + Q(dir / "in/") + " *.*";
    cab32::Status s = cab32::RunCommandLine(line.c_str(), limits, summary);
    ASSERT_TRUE(s.ok()) << s.text;
    RawCabinet cab = ParseCabinet(ReadFile(dir / "a.cab"));
    // a+b fill three blocks; c alone needs three; d would be a fourth.
    ASSERT_EQ(cab.folders.size(), 3u);
    EXPECT_EQ(cab.folders[0].blocks.size(), 3u);
    EXPECT_EQ(cab.folders[1].blocks.size(), 3u);
    EXPECT_EQ(cab.folders[2].blocks.size(), 1u);
    EXPECT_EQ(cab.files[3].folder, 2);
    CommandResult tested = RunShell("cabextract -t " + ShellQuoted(dir / "a.cab"));
    EXPECT_EQ(tested.status, 0) << tested.output;
    EXPECT_EQ(RunShell(SevenZip() + " t " + ShellQuoted(dir / "a.cab")).status, 0);
    ASSERT_EQ(
        RunShell("cabextract -q -d " + ShellQuoted(dir / "x") + " " + ShellQuoted(dir / "a.cab"))
            .status,
        0);
    EXPECT_TRUE(SameTree(ReadTree(dir / "x"), FolderSplitTree()));
}

TEST(CabWorkers, ArchiveIsTheSameWhateverTheNumberOfWorkers)
{
    TempDir dir;
    WriteTree(dir / "in", SampleTree());
    std::string archives[2];
    unsigned counts[2] = { 1, 3 };
    for (int i = 0; i < 2; ++i) {
        Limits limits;
        limits.workers = counts[i];
        const std::string cab = dir / ("w" + std::to_string(counts[i]) + ".cab");
        const std::string line = "-a -r " + Q(cab) + " " + Q(dir / "in/") + " *.*";
        std::string summary;
        ASSERT_TRUE(cab32::RunCommandLine(line.c_str(), limits, summary).ok());
        archives[i] = ReadFile(cab);
    }
    EXPECT_TRUE(archives[0] == archives[1]);
    CommandResult tested = RunShell("cabextract -t " + ShellQuoted(dir / "w3.cab"));
    EXPECT_EQ(tested.status, 0) << tested.output;
}

TEST(CabLimits, WhatOneCabinetCannotHoldIsRefused)
{
    TempDir dir;
    WriteTree(dir / "in", { { "a", std::string(32769, 'a') }, { "b", "b" }, { "c", "c" } });
    const std::string line = "-a -r " + Q(dir / "out/a.cab") + " " + Q(dir / "in/") + " *.*";
    std::filesystem::create_directories(dir / "out");
    std::string summary;
    Limits blocks;
    blocks.maxBlocksPerFolder = 1;
    EXPECT_EQ(cab32::RunCommandLine(line.c_str(), blocks, summary).code, CAB32_E_LIMIT);
    Limits files;
    files.maxFiles = 2;
    EXPECT_EQ(cab32::RunCommandLine(line.c_str(), files, summary).code, CAB32_E_LIMIT);
    Limits size;
    size.maxCabinetSize = 100;
    EXPECT_EQ(cab32::RunCommandLine(line.c_str(), size, summary).code, CAB32_E_LIMIT);
    EXPECT_TRUE(Names(dir / "out").empty());

    // The real limits: a sparse file just over one folder, and a long name.
    TempDir big;
    int fd = ::open((big / "huge.bin").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(::ftruncate(fd, off_t(65535) * 32768 + 1), 0);
    ::close(fd);
    EXPECT_EQ(RunCab("-a -r " + Q(dir / "out/h.cab") + " " + Q(big.path() + "/") + " *.*"),
              CAB32_E_LIMIT);
    TempDir names;
    std::string folder;
    for (int i = 0; i < 50; ++i)
        folder += "あ"; // two bytes each when stored
    std::string file(155, 'n');
    WriteTree(names.path(), { { folder + "/" + file, "x" } });
    EXPECT_EQ(RunCab("-a -r " + Q(dir / "out/n.cab") + " " + Q(names.path() + "/") + " *.*"),
              CAB32_E_LIMIT);
    file.pop_back(); // 100 + 1 + 154 = 255 bytes: still fits
    TempDir fits;
    WriteTree(fits.path(), { { folder + "/" + file, "x" } });
    EXPECT_EQ(RunCab("-a -r " + Q(dir / "out/n.cab") + " " + Q(fits.path() + "/") + " *.*"), 0);
}

} // namespace
} // namespace kestlin::test
