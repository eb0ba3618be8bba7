#include "common/atomicfile.h"
#include "common/files.h"
#include "common/textfile.h"
#include "common/winnames.h"
#include "support/TempDir.h"

#include <cerrno>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestlin;
using kestlin::test::ReadFile;
using kestlin::test::TempDir;
using kestlin::test::WriteFile;

TEST(Files, OrdinaryFileMeansAVisibleRegularFileThroughLinks)
{
    TempDir dir;
    WriteFile(dir / "report.csv", "x");
    WriteFile(dir / ".hidden", "x");
    ::mkdir((dir / "folder").c_str(), 0700);
    ::mkfifo((dir / "pipe").c_str(), 0600);
    ::symlink((dir / "report.csv").c_str(), (dir / "link").c_str());
    ::symlink((dir / "gone").c_str(), (dir / "dangling").c_str());

    EXPECT_TRUE(OrdinaryFileExists(dir / "report.csv"));
    EXPECT_TRUE(OrdinaryFileExists(dir / "link"));
    EXPECT_FALSE(OrdinaryFileExists(dir / ".hidden"));
    EXPECT_FALSE(OrdinaryFileExists(dir / "folder"));
    EXPECT_FALSE(OrdinaryFileExists(dir / "pipe"));
    EXPECT_FALSE(OrdinaryFileExists(dir / "dangling"));
    EXPECT_FALSE(OrdinaryFileExists(dir / "missing"));
    EXPECT_FALSE(OrdinaryFileExists(""));

    EXPECT_TRUE(NameTaken(dir / "folder"));
    EXPECT_TRUE(NameTaken(dir / "report.csv"));
    EXPECT_FALSE(NameTaken(dir / ".hidden"));
    EXPECT_FALSE(NameTaken(dir / "pipe"));
}

TEST(Files, JoinPathAddsASeparatorOnlyWhenMissing)
{
    EXPECT_EQ(JoinPath("/tmp/a", "WorkSpace"), "/tmp/a/WorkSpace");
    EXPECT_EQ(JoinPath("/tmp/a/", "WorkSpace"), "/tmp/a/WorkSpace");
    EXPECT_EQ(JoinPath("/", "Kestlin.INI"), "/Kestlin.INI");
    EXPECT_EQ(FileNameOf("/a/b/data.csv"), "data.csv");
    EXPECT_EQ(FileNameOf("data.csv"), "data.csv");
    EXPECT_EQ(FileNameOf("/a/b/"), "");
}

TEST(Files, CreateFolderMakesOneLevelOnly)
{
    TempDir dir;
    std::string reason;
    EXPECT_TRUE(CreateFolder(dir / "one", reason));
    EXPECT_FALSE(CreateFolder(dir / "two/three", reason));
    EXPECT_FALSE(reason.empty());
    reason.clear();
    EXPECT_FALSE(CreateFolder(dir / "one", reason)) << "an existing name is not made again";
    EXPECT_FALSE(reason.empty());
}

TEST(Files, ListOrdinaryFilesSkipsFoldersHiddenAndSystemEntries)
{
    TempDir dir;
    WriteFile(dir / "a.txt", "1");
    WriteFile(dir / ".b", "2");
    ::mkdir((dir / "c").c_str(), 0700);
    ::mkfifo((dir / "d").c_str(), 0600);
    std::vector<std::string> names;
    std::string reason;
    ASSERT_TRUE(ListOrdinaryFiles(dir.path(), names, reason));
    EXPECT_EQ(names, std::vector<std::string> { "a.txt" });
    EXPECT_FALSE(ListOrdinaryFiles(dir / "missing", names, reason));
    EXPECT_FALSE(reason.empty());
}

TEST(Files, CopyReplacesAndReportsFailures)
{
    TempDir dir;
    WriteFile(dir / "src", "new content");
    WriteFile(dir / "dst", "old");
    std::string reason;
    ASSERT_TRUE(CopyFileReplacing(dir / "src", dir / "dst", reason));
    EXPECT_EQ(ReadFile(dir / "dst"), "new content");
    EXPECT_FALSE(CopyFileReplacing(dir / "missing", dir / "dst2", reason));
    EXPECT_FALSE(reason.empty());
}

TEST(TextFile, WritesCp932WithCrLfAndReplacesTheOldFile)
{
    TempDir dir;
    WriteFile(dir / "t.txt", "a much longer old content that must disappear");
    std::string reason;
    ASSERT_TRUE(WriteTextLine(dir / "t.txt", "表,ｱ\r\n二行目", reason));
    EXPECT_EQ(ReadFile(dir / "t.txt"), "\x95\x5C,\xB1\r\n\x93\xF1\x8D\x73\x96\xDA\r\n");
}

TEST(TextFile, OwnerOnlyFilesAreNotReadableByOthers)
{
    TempDir dir;
    WriteFile(dir / "secret.txt", "old");
    ::chmod((dir / "secret.txt").c_str(), 0644);
    std::string reason;
    ASSERT_TRUE(WriteTextLine(dir / "secret.txt", "pw", reason, FileAccess::OwnerOnly));
    struct stat st
    {
    };
    ASSERT_EQ(::stat((dir / "secret.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(WindowsNames, WhatWindowsCannotHold)
{
    using F = WindowsNameFault;
    for (const char *name : { "報告.xls", ".hidden", "a..b", " lead.csv", "CONSOLE.txt",
                              "COM10.csv", "COM0.csv", "NUL_x.txt", "ＣＯＮ.txt", "bell\x7F.csv" })
        EXPECT_EQ(CheckWindowsName(name), F::None) << name;
    for (const char *name : { "a:b.xls", "a\\b.xls", "q?.csv", "tab\t.csv", "a|b", "<>" })
        EXPECT_EQ(CheckWindowsName(name), F::Character) << name;
    for (const char *name : { "report.", "report ", "aux." })
        EXPECT_EQ(CheckWindowsName(name), F::Ending) << name;
    for (const char *name : { "con", "Con.txt", "nul.tar.gz", "CON .csv", "lpt9", "COM\u00B9.txt" })
        EXPECT_EQ(CheckWindowsName(name), F::DeviceName) << name;
}

TEST(WindowsNames, KeysAreEqualExactlyWhenWindowsSeesOneName)
{
    const auto same
        = [](const char *a, const char *b) { return WindowsNameKey(a) == WindowsNameKey(b); };
    EXPECT_TRUE(same("Report.XLS", "report.xls"));
    EXPECT_TRUE(same("ａｂｃ.csv", "ＡＢＣ.CSV"));
    EXPECT_TRUE(same("ⅰ.txt", "Ⅰ.txt"));
    EXPECT_TRUE(same("Äöü", "äÖÜ"));
    EXPECT_TRUE(same("σς", "ΣΣ"));
    EXPECT_TRUE(same("привет", "ПРИВЕТ"));
    EXPECT_TRUE(same("\xFFx", "\xFFX"));
    // Apart on Windows: what only looks alike, and what Unicode alone folds into ASCII.
    EXPECT_FALSE(same("ı", "I"));
    EXPECT_FALSE(same("ſ", "S"));
    EXPECT_FALSE(same("ａ", "a"));
    EXPECT_FALSE(same("ｶ", "カ"));
    EXPECT_FALSE(same("\u212A", "K"));
    EXPECT_FALSE(same("\xC3", "\xE3"));
}

TEST(TextFile, FailuresAreReportedNotSwallowed)
{
    TempDir dir;
    std::string reason;
    EXPECT_FALSE(WriteTextLine(dir / "no/such/folder.txt", "x", reason));
    EXPECT_FALSE(reason.empty());

    // A full disk: a tiny file system that cannot hold the text.
    const std::string mountPoint = dir / "small";
    ::mkdir(mountPoint.c_str(), 0700);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=4k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    reason.clear();
    const bool written
        = WriteTextLine(mountPoint + "/big.txt", std::string(64 * 1024, 'x'), reason);
    ::umount(mountPoint.c_str());
    EXPECT_FALSE(written);
    EXPECT_FALSE(reason.empty());
}

TEST(AtomicFile, ReplacesThroughALinkKeepingModeAndLeavesNoTemporaryFile)
{
    TempDir dir;
    ::mkdir((dir / "shared").c_str(), 0700);
    WriteFile(dir / "shared/known.txt", "old\n");
    ::chmod((dir / "shared/known.txt").c_str(), 0640);
    ::symlink("shared/known.txt", (dir / "link").c_str());

    int error = 0;
    ASSERT_TRUE(ReplaceFileAtomically(dir / "link", "new\n", error)) << error;
    struct stat link = {}, target = {};
    ASSERT_EQ(::lstat((dir / "link").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(ReadFile(dir / "shared/known.txt"), "new\n");
    ASSERT_EQ(::stat((dir / "shared/known.txt").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0640u);

    ASSERT_TRUE(ReplaceFileAtomically(dir / "fresh.txt", "x", error, 0600));
    ASSERT_EQ(::stat((dir / "fresh.txt").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0600u);

    {
        AtomicFile kept(dir / "fresh.txt");
        ASSERT_TRUE(kept.Open(error));
        EXPECT_FALSE(kept.Commit(error, /*replace=*/false));
        EXPECT_EQ(error, EEXIST);
        AtomicFile dropped(dir / "dropped.txt");
        ASSERT_TRUE(dropped.Open(error));
    }
    EXPECT_EQ(ReadFile(dir / "fresh.txt"), "x");
    EXPECT_FALSE(NameTaken(dir / "dropped.txt"));
    // Nothing but the files themselves is left in either folder.
    EXPECT_EQ(::access((dir / "shared").c_str(), F_OK), 0);
    int entries = 0;
    for (const char *folder : { "", "shared" }) {
        std::string listing = dir / folder;
        DIR *d = ::opendir(listing.c_str());
        while (dirent *e = ::readdir(d))
            entries += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
        ::closedir(d);
    }
    EXPECT_EQ(entries, 4); // shared, link, fresh.txt, shared/known.txt
}
