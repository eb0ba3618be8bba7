#include "common/cp932.h"
#include "common/syserror.h"
#include "settings/clsIniFile.h"
#include "support/TempDir.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace kestlin;
using kestlin::test::PermissionsEnforced;
using kestlin::test::ReadFile;
using kestlin::test::TempDir;
using kestlin::test::WriteFile;

namespace {

const std::string kPrefix = "WriteValueString INIﾌｧｲﾙ書込みｴﾗｰ。 ";

std::string Sjis(const std::string &utf8)
{
    return cp932::FromUtf8(utf8);
}

mode_t ModeOf(const std::string &path)
{
    struct stat info = {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

std::vector<std::string> Names(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *d = ::opendir(folder.c_str())) {
        while (dirent *e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

class IniWrite : public ::testing::Test
{
protected:
    bool Write(const std::string &section, const std::string &key, const std::string &value)
    {
        return ini.WriteIniValue(value, section, key, path);
    }

    TempDir dir;
    const std::string path = dir / "Kestlin.INI";
    clsIniFile ini;
};

TEST_F(IniWrite, ANewFileHasTheDialogsLayoutAndOnlyItsOwnerMayUseIt)
{
    const mode_t oldMask = ::umask(0);
    ini.PathIniFile(path);
    ini.Section("USER");
    ini.Key("HOUKOKU");
    EXPECT_TRUE(ini.WriteValue("石油動態報告"));
    ini.Key("USERID");
    EXPECT_TRUE(ini.WriteValue("u01"));
    ini.Section("MAIL");
    ini.Key("SUBJECT");
    EXPECT_TRUE(ini.WriteValue("【石油動態報告】"));
    ini.Key("PASSWORD");
    EXPECT_TRUE(ini.WriteValue(""));
    ::umask(oldMask);

    EXPECT_EQ(ReadFile(path), Sjis("[USER]\r\nHOUKOKU=石油動態報告\r\nUSERID=u01\r\n"
                                   "[MAIL]\r\nSUBJECT=【石油動態報告】\r\nPASSWORD=\r\n"));
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(Names(dir.path()), std::vector<std::string> { "Kestlin.INI" });
    EXPECT_EQ(ini.GetErrMessage(), "");
}

TEST_F(IniWrite, AChangeTouchesOneLineAndKeepsEveryOtherByte)
{
    const std::string before = Sjis("; 設定\r\n"
                                    "[USER]\r\n"
                                    "  houkoku = old value \t\r\n"
                                    "UNKNOWN=keep \"me\"\r\n"
                                    "\r\n"
                                    "[EXTRA]\r\n"
                                    "x = 1\r\n"
                                    "[USER]\r\n"
                                    "USERID=second\r\n"
                                    "\r\n");
    WriteFile(path, before);
    ::chmod(path.c_str(), 0640);

    ASSERT_TRUE(Write("USER", "HOUKOKU", "新しい"));
    ASSERT_TRUE(Write("USER", "USERID", "u"));
    ASSERT_TRUE(Write("SYSTEM", "LOG", "/var/log"));
    EXPECT_EQ(ReadFile(path), Sjis("; 設定\r\n"
                                   "[USER]\r\n"
                                   "  houkoku =新しい\r\n"
                                   "UNKNOWN=keep \"me\"\r\n"
                                   "USERID=u\r\n"
                                   "\r\n"
                                   "[EXTRA]\r\n"
                                   "x = 1\r\n"
                                   "[USER]\r\n"
                                   "USERID=second\r\n"
                                   "\r\n"
                                   "[SYSTEM]\r\n"
                                   "LOG=/var/log\r\n"));
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(ini.GetValue(path, "USER", "USERID"), "u");

    // Writing the value that is already there leaves the file alone.
    struct stat first = {};
    struct stat second = {};
    ::stat(path.c_str(), &first);
    ASSERT_TRUE(Write("user", "userid", "u"));
    ::stat(path.c_str(), &second);
    EXPECT_EQ(first.st_ino, second.st_ino);
}

TEST_F(IniWrite, OddlyEndedFilesGetWholeLines)
{
    WriteFile(path, "[A]\nx=1\n\n[B]\ny=2");
    ASSERT_TRUE(Write("A", "k", "v"));
    ASSERT_TRUE(Write("C", "k", "w"));
    EXPECT_EQ(ReadFile(path), "[A]\nx=1\nk=v\n\n[B]\ny=2\n[C]\nk=w\n");

    WriteFile(path, "[A]\r\nflag");
    ASSERT_TRUE(Write("A", "FLAG", "on"));
    EXPECT_EQ(ReadFile(path), "[A]\r\nflag=on");

    const std::string bom = "\xEF\xBB\xBF[A]\r\nk=石\r\n";
    WriteFile(path, bom);
    ASSERT_TRUE(Write("A", "k", "油"));
    ASSERT_TRUE(Write("A", "j", "ｶﾅ"));
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF[A]\r\nk=油\r\nj=ｶﾅ\r\n");
    EXPECT_EQ(ini.GetValue(path, "A", "j"), "ｶﾅ");

    // UTF-16 as Notepad's "Unicode" saves it, in both byte orders.
    const std::u16string utf16 = u"[A]\r\nk=石\r\n";
    for (bool little : { true, false }) {
        auto encode = [little](std::u16string_view text) {
            std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
            for (char16_t c : text) {
                const char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
                bytes += little ? std::string { low, high } : std::string { high, low };
            }
            return bytes;
        };
        WriteFile(path, encode(utf16));
        EXPECT_EQ(ini.GetValue(path, "A", "k"), "石");
        ASSERT_TRUE(Write("B", "k", "油"));
        EXPECT_EQ(ReadFile(path), encode(u"[A]\r\nk=石\r\n[B]\r\nk=油\r\n"));
    }
}

TEST_F(IniWrite, Utf16UnitsThatDoNotDecodeAreKeptAsTheyWere)
{
    auto le = [](std::u16string_view text) {
        std::string bytes;
        for (char16_t c : text)
            bytes += { static_cast<char>(c & 0xFF), static_cast<char>(c >> 8) };
        return bytes;
    };
    // A lone surrogate on another line, and half a unit at the end.
    const std::string lone("\x00\xD8", 2);
    WriteFile(path, "\xFF\xFE" + le(u"[A]\r\nx=") + lone + le(u"\r\nk=1\r\n") + "\x41");
    ASSERT_TRUE(Write("A", "k", "石"));
    ASSERT_TRUE(Write("A", "j", "2"));
    EXPECT_EQ(ReadFile(path),
              "\xFF\xFE" + le(u"[A]\r\nx=") + lone + le(u"\r\nk=石\r\nj=2\r\n") + "\x41");
    EXPECT_EQ(ini.GetValue(path, "A", "x"), "?");
}

TEST_F(IniWrite, WhatIsWrittenReadsBackAfterTheDocumentedTrimming)
{
    const std::pair<std::string, std::string> cases[] = {
        { "  a  b  ", "a  b" },
        { "\"quoted\"", "quoted" },
        { "Ω😀x", "Ω?x" }, // Ω is in the code page, the emoji is not
        { "ソ表ゾ]=\\", "ソ表ゾ]=\\" },
        { "～−", "～－" }, // the code page's best fit, as in every file the program writes
        { std::string("cut\0here", 8), "cut" },
    };
    for (const auto &[written, expected] : cases) {
        ASSERT_TRUE(Write("USER", "HOUKOKU", written)) << written;
        EXPECT_EQ(ini.GetValue(path, "USER", "HOUKOKU"), expected) << written;
    }
    EXPECT_EQ(ReadFile(path), Sjis("[USER]\r\nHOUKOKU=cut\r\n"));
    ASSERT_TRUE(Write("MAIL", "CERTIFY", "3"));
    EXPECT_EQ(ini.GetValue(path, "MAIL", "CERTIFY", 1), "3");
    EXPECT_EQ(ini.GetValue(path, "MAIL", "CERTIFY", 0), "3");
}

TEST_F(IniWrite, EveryLengthAroundTheCutRoundTrips)
{
    for (std::size_t length = 250; length <= 260; ++length) {
        const std::string ascii(length, 'a');
        ASSERT_TRUE(Write("USER", "PASSWORD", ascii));
        EXPECT_EQ(ini.GetValue(path, "USER", "PASSWORD"), ascii.substr(0, 254)) << length;

        // A double-byte character on bytes length-1 and length: at 254 it
        // straddles the cut and goes as a whole.
        const std::string mixed = std::string(length - 1, 'b') + "あz";
        ASSERT_TRUE(Write("USER", "PASSWORD", mixed));
        std::string expected = length <= 252 ? mixed
                               : length == 253
                                   ? std::string(252, 'b') + "あ"
                                   : std::string(std::min<std::size_t>(length - 1, 254), 'b');
        EXPECT_EQ(ini.GetValue(path, "USER", "PASSWORD"), expected) << length;
    }
}

TEST_F(IniWrite, LinksAreFollowedToTheFileTheyName)
{
    const std::string real = dir / "real.INI";
    WriteFile(real, "[A]\r\nk=1\r\n");
    ASSERT_EQ(::symlink("real.INI", path.c_str()), 0);
    ASSERT_TRUE(Write("A", "k", "2"));
    struct stat info = {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadFile(real), "[A]\r\nk=2\r\n");

    const std::string dangling = dir / "dangling.INI";
    ASSERT_EQ(::symlink((dir / "made.INI").c_str(), dangling.c_str()), 0);
    ASSERT_TRUE(Write("A", "k", "3"));
    ASSERT_TRUE(ini.WriteIniValue("new", "A", "k", dangling));
    EXPECT_EQ(ReadFile(dir / "made.INI"), "[A]\r\nk=new\r\n");
    EXPECT_EQ(ModeOf(dir / "made.INI"), 0600u);
}

class IniWriteFailure : public IniWrite
{
protected:
    void SetUp() override { WriteFile(path, kOriginal); }

    void ExpectFailure(const std::string &target, int error)
    {
        EXPECT_FALSE(ini.WriteIniValue("new", "USER", "HOUKOKU", target));
        EXPECT_EQ(ini.GetErrMessage(), kPrefix + SystemErrorText(error));
        EXPECT_EQ(ReadFile(path), kOriginal);
        EXPECT_EQ(Names(dir.path()), std::vector<std::string> { "Kestlin.INI" });
    }

    const std::string kOriginal = "[USER]\r\nHOUKOKU=old\r\n";
};

TEST_F(IniWriteFailure, AReadOnlyFileOrFolderIsNotWritten)
{
    PermissionsEnforced enforced;
    ::chmod(path.c_str(), 0400);
    ExpectFailure(path, EACCES);
    ::chmod(path.c_str(), 0600);
    ::chmod(dir.path().c_str(), 0500);
    ExpectFailure(path, EACCES);
    ::chmod(dir.path().c_str(), 0700);
}

TEST_F(IniWriteFailure, AFolderOrAMissingFolderIsNotAFile)
{
    ExpectFailure(dir.path(), EISDIR);
    ExpectFailure(dir.path() + "/", EISDIR);
    ExpectFailure(dir / "missing/Kestlin.INI", ENOENT);
    ExpectFailure(path + "/x", ENOTDIR);
    ExpectFailure("", ENOENT);
}

TEST_F(IniWriteFailure, AFullDiskLeavesTheOldFileWhole)
{
    // The file-size limit makes the write stop half-way, as a full disk would.
    const std::string big = "[USER]\r\nHOUKOKU=" + std::string(3000, 'o') + "\r\n";
    WriteFile(path, big);
    rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = ini.WriteIniValue(std::string(3000, 'n'), "USER", "HOUKOKU", path);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(ini.GetErrMessage(), kPrefix + SystemErrorText(EFBIG));
    EXPECT_EQ(ReadFile(path), big);
    EXPECT_EQ(Names(dir.path()), std::vector<std::string> { "Kestlin.INI" });
}

TEST_F(IniWriteFailure, LinesThatWouldReadAsOtherKeysAreRefused)
{
    const std::pair<std::string, std::string> names[] = {
        { "USER", "HOU=KOKU" },    { "USER", "[MAIL]" }, { "USER", "" },          { "USER", " \t" },
        { "US\r\nER", "HOUKOKU" }, { "", "HOUKOKU" },    { "USER", "HOU\nKOKU" },
    };
    for (const auto &[section, key] : names) {
        EXPECT_FALSE(ini.WriteIniValue("x", section, key, path)) << section << "/" << key;
        EXPECT_EQ(ini.GetErrMessage(), kPrefix + SystemErrorText(EINVAL));
    }
    EXPECT_FALSE(Write("USER", "HOUKOKU", "a\r\n[MAIL]\r\nSMTP=evil"));
    EXPECT_FALSE(Write("USER", "HOUKOKU", "a\rb"));
    EXPECT_EQ(ReadFile(path), kOriginal);
}

TEST_F(IniWriteFailure, TheLastFailureTextOutlivesLaterSuccesses)
{
    ExpectFailure(dir / "missing/Kestlin.INI", ENOENT);
    EXPECT_TRUE(Write("USER", "HOUKOKU", "new"));
    EXPECT_EQ(ini.GetErrMessage(), kPrefix + SystemErrorText(ENOENT));
    EXPECT_EQ(clsIniFile().GetErrMessage(), "");
}

TEST(IniFileErrors, GarbageIsKeptWhenAValueIsAdded)
{
    TempDir dir;
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.push_back(static_cast<char>((i * 7919) % 251));
    WriteFile(dir / "g.INI", garbage);
    clsIniFile ini;
    ASSERT_TRUE(ini.WriteIniValue("v", "NEW", "k", dir / "g.INI"));
    const std::string after = ReadFile(dir / "g.INI");
    EXPECT_EQ(after.substr(0, garbage.size()), garbage);
    EXPECT_EQ(ini.GetValue(dir / "g.INI", "NEW", "k"), "v");
}

} // namespace
