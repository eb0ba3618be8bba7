#include "common/basCommon.h"
#include "common/cp932.h"
#include "common/files.h"
#include "settings/ReportMailbox.h"
#include "settings/SettingsCheck.h"
#include "settings/SettingsStore.h"
#include "settings/StoredPassword.h"
#include "settings/clsIniFile.h"
#include "support/TempDir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kestlin;
using kestlin::test::PermissionsEnforced;
using kestlin::test::ReadFile;
using kestlin::test::TempDir;
using kestlin::test::WriteFile;

namespace {

SettingsValues Sample(const TempDir &dir)
{
    SettingsValues v;
    v.uHoukoku = " 石油動態報告 ";
    v.uUserId = "U0001";
    v.uPassWord = "ﾊﾟｽ word 1";
    v.uMailAdress = "reporter@example.co.jp";
    v.mSmtp = "smtp.example.co.jp";
    v.mPort = "587";
    v.certify = kCertifyCramMd5;
    v.mUserId = "reporter";
    v.mPassWord = "mail-pass";
    v.mSubject = "【石油動態報告】";
    v.mMailAdress = "houkoku@example.go.jp";
    v.sLog = dir.path();
    v.sTempLog = dir / "attach";
    v.sTemp = dir / "work";
    return v;
}

// Lines of the file as text, CR LF taken off.
std::vector<std::string> Lines(const std::string &path)
{
    std::vector<std::string> lines;
    const std::string text = cp932::ToUtf8(ReadFile(path));
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::string Stored(const std::string &path, const char *section, const char *key)
{
    return clsIniFile().GetValue(path, section, key);
}

void WriteIni(const std::string &path, const std::string &utf8)
{
    WriteFile(path, cp932::FromUtf8(utf8));
}

} // namespace

TEST(SettingsStore, FirstTimeValues)
{
    const SettingsValues v = FirstTimeSettings("/home/u/Documents", "/opt/kestlin");
    EXPECT_EQ(v.uHoukoku, "石油動態報告");
    EXPECT_EQ(v.mPort, "25");
    EXPECT_EQ(v.certify, kCertifyNone);
    EXPECT_EQ(v.mSubject, "【石油動態報告】");
    EXPECT_EQ(v.mMailAdress, kReportMailbox);
    EXPECT_EQ(v.sLog, "/home/u/Documents");
    EXPECT_EQ(v.sTempLog, "/opt/kestlin");
    EXPECT_EQ(v.sTemp, "/opt/kestlin");
    EXPECT_TRUE(v.uUserId.empty() && v.uPassWord.empty() && v.uMailAdress.empty() && v.mSmtp.empty()
                && v.mUserId.empty() && v.mPassWord.empty());
    std::string reason;
    if (*kReportMailbox != '\0') {
        EXPECT_TRUE(ChkMailAddress(kReportMailbox, reason))
            << "a distributor's address that the dialog itself refuses would block every first "
               "save";
    }
}

TEST(SettingsStore, SavesEveryKeyInOrderAndLoadsItBack)
{
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    const SettingsValues saved = Sample(dir);
    std::string failure;
    ASSERT_TRUE(SaveSettingsFile(ini, saved, true, failure)) << failure;

    std::vector<std::string> keys;
    for (const std::string &line : Lines(ini)) {
        if (!line.empty())
            keys.push_back(line.substr(0, line.find('=')));
    }
    const std::vector<std::string> order
        = { "[USER]",     "HOUKOKU",  "USERID",  "PASSWORD", "MAILADRESS", "[MAIL]",
            "SMTP",       "PORT",     "CERTIFY", "USERID",   "PASSWORD",   "SUBJECT",
            "MAILADRESS", "[SYSTEM]", "LOG",     "TEMPLOG",  "TEMP" };
    EXPECT_EQ(keys, order);
    const std::vector<std::string> lines = Lines(ini);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "HOUKOKU= 石油動態報告 "), lines.end())
        << "values are written as the fields show them";
    EXPECT_EQ(Stored(ini, "MAIL", "CERTIFY"), "3");
    const std::string userStored = Stored(ini, "USER", "PASSWORD");
    EXPECT_FALSE(userStored.empty());
    EXPECT_EQ(userStored.find(saved.uPassWord), std::string::npos);
    EXPECT_NE(Stored(ini, "MAIL", "PASSWORD"), saved.mPassWord);

    SettingsValues loaded;
    SettingsLoadFailure stop;
    ASSERT_TRUE(LoadSettingsFile(ini, loaded, stop)) << stop.message;
    SettingsValues expected = saved;
    expected.uHoukoku = "石油動態報告"; // blanks around a stored value do not survive a read
    EXPECT_EQ(loaded.uHoukoku, expected.uHoukoku);
    EXPECT_EQ(loaded.uUserId, expected.uUserId);
    EXPECT_EQ(loaded.uPassWord, expected.uPassWord);
    EXPECT_EQ(loaded.uMailAdress, expected.uMailAdress);
    EXPECT_EQ(loaded.mSmtp, expected.mSmtp);
    EXPECT_EQ(loaded.mPort, expected.mPort);
    EXPECT_EQ(loaded.certify, expected.certify);
    EXPECT_EQ(loaded.mUserId, expected.mUserId);
    EXPECT_EQ(loaded.mPassWord, expected.mPassWord);
    EXPECT_EQ(loaded.mSubject, expected.mSubject);
    EXPECT_EQ(loaded.mMailAdress, expected.mMailAdress);
    EXPECT_EQ(loaded.sLog, expected.sLog);
    EXPECT_EQ(loaded.sTempLog, expected.sTempLog);
    EXPECT_EQ(loaded.sTemp, expected.sTemp);
}

TEST(SettingsStore, EmptyMailPasswordIsStoredEmptyAndNeverDecrypted)
{
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    SettingsValues v = Sample(dir);
    v.mPassWord.clear();
    v.certify = kCertifyUnset; // nothing chosen is stored as no authentication
    std::string failure;
    ASSERT_TRUE(SaveSettingsFile(ini, v, true, failure)) << failure;
    EXPECT_EQ(Stored(ini, "MAIL", "PASSWORD"), "");
    EXPECT_EQ(Stored(ini, "MAIL", "CERTIFY"), "0");

    SettingsValues loaded;
    SettingsLoadFailure stop;
    EXPECT_TRUE(LoadSettingsFile(ini, loaded, stop))
        << "an empty text handed to decryption would fail the load";
    EXPECT_EQ(loaded.mPassWord, "");
    EXPECT_EQ(loaded.certify, kCertifyNone);
}

TEST(SettingsStore, MethodCodeSelectsOrFailsTheLoad)
{
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    std::string failure;
    ASSERT_TRUE(SaveSettingsFile(ini, Sample(dir), true, failure)) << failure;
    clsIniFile writer;
    SettingsLoadFailure stop;
    auto loadWithCertify = [&](const std::string &certify, SettingsValues &loaded) {
        EXPECT_TRUE(writer.WriteIniValue(certify, "MAIL", "CERTIFY", ini));
        loaded = {};
        return LoadSettingsFile(ini, loaded, stop);
    };
    SettingsValues loaded;
    EXPECT_TRUE(loadWithCertify("7", loaded));
    EXPECT_EQ(loaded.certify, kCertifyNone);
    EXPECT_TRUE(loadWithCertify("4", loaded));
    EXPECT_EQ(loaded.certify, kCertifyPlain);
    EXPECT_TRUE(loadWithCertify("-1", loaded));
    EXPECT_EQ(loaded.certify, kCertifyNone);

    EXPECT_FALSE(loadWithCertify("abc", loaded));
    EXPECT_EQ(stop.message, "型が一致しません。");
    EXPECT_FALSE(stop.undecryptable);
    EXPECT_FALSE(loadWithCertify("40000", loaded));
    EXPECT_EQ(stop.message, "オーバーフローしました。");
    // What was read before the method stays, what follows it stays empty.
    EXPECT_EQ(loaded.uHoukoku, "石油動態報告");
    EXPECT_EQ(loaded.mPassWord, "mail-pass");
    EXPECT_EQ(loaded.mPort, "587");
    EXPECT_EQ(loaded.certify, kCertifyUnset);
    EXPECT_EQ(loaded.mSubject, "");
    EXPECT_EQ(loaded.sTemp, "");
}

// [OAUTH] is written with the OAuth method only, after the rest, and kept
// when another method is chosen later.
TEST(SettingsStore, OAuthMethodAddsItsSectionAndLoadsBack)
{
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    SettingsValues saved = Sample(dir);
    saved.certify = kCertifyOAuth;
    saved.oProvider = "google";
    saved.oClientId = "client-1";
    std::string failure;
    ASSERT_TRUE(SaveSettingsFile(ini, saved, true, failure)) << failure;
    const std::vector<std::string> lines = Lines(ini);
    const std::vector<std::string> tail(lines.end() - 3, lines.end());
    EXPECT_EQ(tail,
              (std::vector<std::string> { "[OAUTH]", "PROVIDER=google", "CLIENTID=client-1" }));
    SettingsValues loaded;
    SettingsLoadFailure stop;
    ASSERT_TRUE(LoadSettingsFile(ini, loaded, stop)) << stop.message;
    EXPECT_EQ(loaded.certify, kCertifyOAuth);
    EXPECT_EQ(loaded.oProvider, "google");
    EXPECT_EQ(loaded.oClientId, "client-1");

    saved.certify = kCertifyLogin;
    saved.oClientId = "client-2";
    ASSERT_TRUE(SaveSettingsFile(ini, saved, false, failure)) << failure;
    EXPECT_EQ(Stored(ini, "OAUTH", "CLIENTID"), "client-1");
}

TEST(SettingsStore, MissingMethodKeyIsAFailureWithItsDescription)
{
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    std::string failure;
    SettingsValues v = Sample(dir);
    v.mPassWord.clear();
    ASSERT_TRUE(SaveSettingsFile(ini, v, true, failure)) << failure;
    std::string text;
    for (const std::string &line : Lines(ini)) {
        if (!line.starts_with("CERTIFY="))
            text += line + "\r\n";
    }
    WriteIni(ini, text);
    SettingsValues loaded;
    SettingsLoadFailure stop;
    EXPECT_FALSE(LoadSettingsFile(ini, loaded, stop));
    EXPECT_EQ(stop.message, "型が一致しません。");
    EXPECT_EQ(loaded.mUserId, "reporter");
    EXPECT_EQ(loaded.mMailAdress, "");
}

TEST(SettingsStore, UndecryptableUserPasswordStopsTheLoadSilently)
{
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    for (const char *stored : { "not-an-encrypted-text", "" }) {
        WriteIni(ini, std::string("[USER]\r\nHOUKOKU=報告\r\nUSERID=U1\r\nPASSWORD=") + stored
                          + "\r\nMAILADRESS=a@b\r\n[MAIL]\r\nSMTP=s\r\nCERTIFY=1\r\n");
        SettingsValues loaded;
        SettingsLoadFailure stop;
        EXPECT_FALSE(LoadSettingsFile(ini, loaded, stop)) << "stored: " << stored;
        EXPECT_EQ(stop.undecryptable, SettingKey::UserPassword) << "stored: " << stored;
        EXPECT_EQ(stop.message, "") << "this stop has no message of its own";
        EXPECT_EQ(loaded.uHoukoku, "報告");
        EXPECT_EQ(loaded.uUserId, "U1");
        EXPECT_EQ(loaded.uPassWord, "");
        EXPECT_EQ(loaded.uMailAdress, "");
        EXPECT_EQ(loaded.mSmtp, "");
        EXPECT_EQ(loaded.certify, kCertifyUnset);
    }
}

TEST(SettingsStore, UndecryptableMailPasswordNamesItsKeyAndSaysWhy)
{
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    std::string failure;
    ASSERT_TRUE(SaveSettingsFile(ini, Sample(dir), true, failure)) << failure;
    ASSERT_TRUE(clsIniFile().WriteIniValue("not-an-encrypted-text", "MAIL", "PASSWORD", ini));
    SettingsValues loaded;
    SettingsLoadFailure stop;
    EXPECT_FALSE(LoadSettingsFile(ini, loaded, stop));
    EXPECT_EQ(stop.undecryptable, SettingKey::MailPassword);
    EXPECT_EQ(loaded.uPassWord, Sample(dir).uPassWord);

    const DecryptedPassword bad = DecryptStoredPassword("not-an-encrypted-text");
    EXPECT_FALSE(bad.ok);
    EXPECT_FALSE(bad.reason.empty());
    const DecryptedPassword good = DecryptStoredPassword(Stored(ini, "USER", "PASSWORD"));
    EXPECT_TRUE(good.ok) << good.reason;
    EXPECT_EQ(good.password, Sample(dir).uPassWord);
}

TEST(SettingsStore, SaveBrokenOffAtTheThirdValue)
{
    // The encrypted-data library refuses an empty text, so an empty user
    // password makes the third value fail.
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    SettingsValues v = Sample(dir);
    v.uPassWord.clear();
    std::string failure;
    EXPECT_FALSE(SaveSettingsFile(ini, v, true, failure));
    EXPECT_FALSE(failure.empty());
    EXPECT_FALSE(NameTaken(ini)) << "a first save that breaks off leaves no file";

    ASSERT_TRUE(SaveSettingsFile(ini, Sample(dir), true, failure)) << failure;
    const std::string password = Stored(ini, "USER", "PASSWORD");
    v.uHoukoku = "新しい報告";
    v.uUserId = "U0002";
    v.uMailAdress = "other@example.co.jp";
    v.mSubject = "new";
    failure.clear();
    const std::string before = ReadFile(ini);
    EXPECT_FALSE(SaveSettingsFile(ini, v, false, failure));
    EXPECT_FALSE(failure.empty());
    // A save is one replace of the whole file: nothing of a broken-off one lands.
    EXPECT_EQ(ReadFile(ini), before);
    EXPECT_EQ(Stored(ini, "USER", "HOUKOKU"), "石油動態報告");
    EXPECT_EQ(Stored(ini, "USER", "PASSWORD"), password);
    EXPECT_EQ(Stored(ini, "USER", "MAILADRESS"), "reporter@example.co.jp");
    EXPECT_EQ(Stored(ini, "MAIL", "SUBJECT"), "【石油動態報告】");
}

TEST(SettingsStore, FailedWriteShowsTheWriteErrorAndKeepsTheFile)
{
    TempDir dir;
    const std::string folder = dir / "locked";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string ini = folder + "/Kestlin.INI";
    std::string failure;
    ASSERT_TRUE(SaveSettingsFile(ini, Sample(dir), false, failure)) << failure;
    const std::string before = ReadFile(ini);
    ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    {
        PermissionsEnforced enforced;
        SettingsValues v = Sample(dir);
        v.uHoukoku = "changed";
        EXPECT_FALSE(SaveSettingsFile(ini, v, false, failure));
    }
    ::chmod(folder.c_str(), 0755);
    EXPECT_TRUE(failure.starts_with("WriteValueString INIﾌｧｲﾙ書込みｴﾗｰ。 ")) << failure;
    EXPECT_EQ(ReadFile(ini), before);
}
