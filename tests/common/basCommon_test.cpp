#include "common/basCommon.h"
#include "common/files.h"
#include "common/programfolder.h"
#include "common/timestamp.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestlin;
using kestlin::test::PermissionsEnforced;
using kestlin::test::ReadFile;
using kestlin::test::RecordingDisplay;
using kestlin::test::TempDir;
using kestlin::test::WriteFile;

namespace {
std::string Check(const std::string &address)
{
    std::string reason;
    return ChkMailAddress(address, reason) ? "ok" : reason;
}
} // namespace

TEST(ChkMailAddress, AcceptsOneAtSignAndThePermittedCharacters)
{
    EXPECT_EQ(Check("report01@example.co.jp"), "ok");
    EXPECT_EQ(Check("A-Z_a.z-0@9"), "ok");
    EXPECT_EQ(Check("@"), "ok") << "the position of the at sign is not checked";
}

TEST(ChkMailAddress, RulesApplyInOrder)
{
    const std::string none = "メールアドレス内に\"@\"がありません。";
    const std::string many = "メールアドレス内に\"@\"が複数あります。";
    const std::string wide = "メールアドレスに全角は入力できません。";
    const std::string bad = "電子メールに使用できない文字が入力されています。";
    EXPECT_EQ(Check(""), none);
    EXPECT_EQ(Check("user.example.jp"), none);
    EXPECT_EQ(Check("a@b@c"), many);
    EXPECT_EQ(Check("@@"), many);
    EXPECT_EQ(Check("ａ b@example.jp"), wide) << "full width is reported before the space";
    EXPECT_EQ(Check("a＠b"), none) << "a full-width at sign is not an at sign";
    EXPECT_EQ(Check("a b@example.jp"), bad);
    EXPECT_EQ(Check("a+b@example.jp"), bad);
    EXPECT_EQ(Check("ｱ@example.jp"), bad) << "half-width katakana is one byte, not permitted";
    EXPECT_EQ(Check("a𠮷@example.jp"), bad) << "no CP932 form: becomes ? and fails";
    // A stray or cut-off lead byte is one bad character and hides no "@" after it.
    for (const char *stray : { "ab\xE3@c.d", "ab\xC3@c.d", "ab\xF0\x9F\x98@c.d", "a@b\xE3" })
        EXPECT_EQ(Check(stray), bad) << stray;
}

TEST(ChkMailAddress, LeavesTheReasonAloneOnSuccess)
{
    std::string reason = "untouched";
    EXPECT_TRUE(ChkMailAddress("a@b", reason));
    EXPECT_EQ(reason, "untouched");
}

TEST(DelFolder, RemovesANestedTreeWithHiddenAndSystemEntries)
{
    TempDir dir;
    const std::string root = dir / "work";
    std::filesystem::create_directories(root + "/a/b/c");
    WriteFile(root + "/f.txt", "1");
    WriteFile(root + "/a/.hidden", "2");
    WriteFile(root + "/a/b/c/deep.bin", "3");
    ::mkfifo((root + "/a/pipe").c_str(), 0600);
    ::chmod((root + "/f.txt").c_str(), 0400);
    std::string reason;
    EXPECT_TRUE(DelFolder(root, reason));
    EXPECT_TRUE(reason.empty());
    EXPECT_FALSE(std::filesystem::exists(root));
}

TEST(DelFolder, NeverFollowsALinkOutOfTheFolder)
{
    TempDir dir;
    const std::string outside = dir / "outside";
    std::filesystem::create_directories(outside + "/keep");
    WriteFile(outside + "/precious.txt", "keep me");
    const std::string root = dir / "work";
    std::filesystem::create_directories(root + "/sub");
    ::symlink(outside.c_str(), (root + "/sub/to-outside").c_str());
    ::symlink((outside + "/precious.txt").c_str(), (root + "/file-link").c_str());

    std::string reason;
    EXPECT_TRUE(DelFolder(root, reason)) << reason;
    EXPECT_FALSE(std::filesystem::exists(root));
    EXPECT_EQ(ReadFile(outside + "/precious.txt"), "keep me");
    EXPECT_TRUE(std::filesystem::is_directory(outside + "/keep"));

    // A link given as the path itself goes, and only the link.
    ::symlink(outside.c_str(), (dir / "top-link").c_str());
    EXPECT_TRUE(DelFolder(dir / "top-link", reason));
    EXPECT_TRUE(std::filesystem::exists(outside + "/precious.txt"));
}

TEST(DelFolder, MissingPathAndOrdinaryFileAreFailuresNotCrashes)
{
    TempDir dir;
    std::string reason;
    EXPECT_FALSE(DelFolder(dir / "missing", reason));
    EXPECT_EQ(reason, "指定されたパスが存在しません。");

    WriteFile(dir / "plain.txt", "x");
    reason.clear();
    EXPECT_FALSE(DelFolder(dir / "plain.txt", reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_TRUE(std::filesystem::exists(dir / "plain.txt"));

    WriteFile(dir / ".hidden", "x");
    reason.clear();
    EXPECT_TRUE(DelFolder(dir / ".hidden", reason)) << "a hidden file is deleted as a file";
}

TEST(DelFolder, ABlockedFolderDeepInTheTreeStopsWithTheSystemText)
{
    // 0500: its entries cannot be deleted; 0300: it cannot even be listed.
    for (mode_t mode : { 0500, 0300 }) {
        TempDir dir;
        const std::string root = dir / "work";
        std::filesystem::create_directories(root + "/a/b/blocked");
        WriteFile(root + "/a/b/blocked/file.txt", "x");
        ::chmod((root + "/a/b/blocked").c_str(), mode);

        std::string reason;
        bool removed;
        {
            PermissionsEnforced enforced;
            removed = DelFolder(root, reason);
        }
        EXPECT_FALSE(removed) << std::oct << mode;
        EXPECT_FALSE(reason.empty());
        EXPECT_NE(reason, "指定されたパスが存在しません。");
        ::chmod((root + "/a/b/blocked").c_str(), 0700);
        EXPECT_TRUE(std::filesystem::exists(root + "/a/b/blocked/file.txt"));
    }
}

namespace {
std::string ErrLogPath(const DateTime &t)
{
    return JoinPath(ProgramFolder(), "Err_" + FormatLogStamp(t) + ".LOG");
}
} // namespace

TEST(WriteErrLog, WritesOneRecordOverSeveralLinesInCp932)
{
    RecordingDisplay display;
    DateTime before, after;
    do {
        before = Now();
        ASSERT_TRUE(WriteErrLog(display,
                                "設定ファイルが存在しません。\r\n設定ファイルを確認してください。",
                                "INIファイル存在エラー"));
        after = Now();
    } while (FormatLogStamp(before) != FormatLogStamp(after));
    const std::string path = ErrLogPath(before);
    EXPECT_EQ(ReadFile(path),
              "\x90\xDD\x92\xE8\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x91\xB6\x8D\xDD\x82\xB5"
              "\x82\xDC\x82\xB9\x82\xF1\x81\x42\r\n"
              "\x90\xDD\x92\xE8\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x8A\x6D\x94\x46\x82\xB5"
              "\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42,"
              "INI\x83\x74\x83\x40\x83\x43\x83\x8B\x91\xB6\x8D\xDD\x83\x47\x83\x89\x81\x5B\r\n");
    EXPECT_TRUE(display.messages.empty());
    ::unlink(path.c_str());
}

TEST(WriteErrLog, TwoLogsInOneSecondLeaveTheSecondOnly)
{
    RecordingDisplay display;
    DateTime before, after;
    do {
        before = Now();
        ASSERT_TRUE(WriteErrLog(display, "first message is longer", "FncCompress"));
        ASSERT_TRUE(WriteErrLog(display, "second", "FncSendMail"));
        after = Now();
    } while (FormatLogStamp(before) != FormatLogStamp(after));
    EXPECT_EQ(ReadFile(ErrLogPath(before)), "second,FncSendMail\r\n");
    ::unlink(ErrLogPath(before).c_str());
}

TEST(WriteErrLog, AFolderThatCannotBeWrittenIsReportedUnderTheProgramName)
{
    const std::string folder = ProgramFolder();
    struct stat st
    {
    };
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    RecordingDisplay display;
    bool written;
    {
        PermissionsEnforced enforced;
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
        written = WriteErrLog(display, "message", "FncEncrypt");
    }
    ::chmod(folder.c_str(), st.st_mode & 07777);
    if (written && ::geteuid() == 0)
        GTEST_SKIP() << "this system lets root write anyway";
    EXPECT_FALSE(written);
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].title, "Kestlin");
    EXPECT_EQ(display.messages[0].icon, MsgIcon::None);
    EXPECT_FALSE(display.messages[0].text.empty());
}

TEST(BrowseFolder, ReturnsTheChoiceOrNothingWhenCancelled)
{
    RecordingDisplay display;
    display.chosenPaths = { std::string("/home/user/logs"), std::nullopt };
    EXPECT_EQ(BrowseFolder(display, 1), "/home/user/logs");
    EXPECT_EQ(BrowseFolder(display, 1), std::nullopt);
    EXPECT_EQ(display.chooserTitles,
              (std::vector<std::string> { "フォルダの選択", "フォルダの選択" }));
}

TEST(GetSpecialFolder, DocumentsFolderFollowsTheUserDirsSettings)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "config");
    WriteFile(dir / "config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/文書\"\n");
    const std::string home = dir.path();
    // In a child, so that the settings are read fresh, with this HOME. A
    // configured folder that does not exist gives the home folder.
    for (const bool made : { false, true }) {
        if (made)
            std::filesystem::create_directory(dir / "文書");
        EXPECT_EXIT(
            {
                ::setenv("HOME", home.c_str(), 1);
                ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
                std::exit(GetSpecialFolder(kDocumentsFolder) == (made ? home + "/文書" : home) ? 0
                                                                                               : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << made;
    }
    EXPECT_EXIT(
        {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home + "/no-config").c_str(), 1);
            std::exit(GetSpecialFolder(kDocumentsFolder) == home ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(GetSpecialFolder(37), "");
}
