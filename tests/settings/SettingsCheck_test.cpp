#include "settings/SettingsCheck.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kestlin;
using kestlin::test::TempDir;
using kestlin::test::WriteFile;
using F = SettingsField;

namespace {

std::string Repeat(const std::string &piece, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

// Values that pass every check, with real folders.
SettingsValues Valid(const TempDir &dir)
{
    SettingsValues v;
    v.uHoukoku = "石油動態報告";
    v.uUserId = "U0001";
    v.uPassWord = "secret";
    v.uMailAdress = "reporter@example.co.jp";
    v.mSmtp = "smtp.example.co.jp";
    v.mPort = "25";
    v.certify = kCertifyPopBefore;
    v.mUserId = "reporter";
    v.mPassWord = "mailpass";
    v.mSubject = "【石油動態報告】";
    v.mMailAdress = "houkoku@example.go.jp";
    v.sLog = dir.path();
    v.sTempLog = dir.path();
    v.sTemp = dir.path();
    return v;
}

struct Expected
{
    F field;
    std::string message;
};

void ExpectFailure(const SettingsValues &v, const Expected &expected)
{
    auto failure = CheckSettings(v);
    ASSERT_TRUE(failure.has_value()) << "expected: " << expected.message;
    EXPECT_EQ(failure->message, expected.message);
    EXPECT_EQ(failure->field, expected.field) << expected.message;
}

} // namespace

TEST(SettingsCheck, ValidValuesPass)
{
    TempDir dir;
    SettingsValues v = Valid(dir);
    EXPECT_FALSE(CheckSettings(v).has_value());
    v.mPort = "0";
    EXPECT_FALSE(CheckSettings(v).has_value()) << "the port has no range";
    v.mPort = "999999999";
    EXPECT_FALSE(CheckSettings(v).has_value());
}

TEST(SettingsCheck, RequiredFieldsAreReportedOneByOneInScreenOrder)
{
    // Everything blank, then filled one field at a time: each step must report
    // the next field, with its own message.
    TempDir dir;
    const SettingsValues full = Valid(dir);
    SettingsValues v;
    v.certify = kCertifyUnset;
    struct Step
    {
        Expected expected;
        void (*fill)(SettingsValues &, const SettingsValues &);
    };
    const std::vector<Step> steps = {
        { { F::txtUHoukoku, "USER設定の報告IDが未入力です。" },
          [](auto &v, auto &f) { v.uHoukoku = f.uHoukoku; } },
        { { F::txtUUserId, "USER設定のユーザーIDが未入力です。" },
          [](auto &v, auto &f) { v.uUserId = f.uUserId; } },
        { { F::txtUPassWord, "USER設定のパスワードが未入力です。" },
          [](auto &v, auto &f) { v.uPassWord = f.uPassWord; } },
        { { F::txtUMailAdress, "USER設定の返信メールアドレスが未入力です。" },
          [](auto &v, auto &f) { v.uMailAdress = f.uMailAdress; } },
        { { F::txtMSmtp, "ﾒｰﾙ設定のSMTPが未入力です。" },
          [](auto &v, auto &f) { v.mSmtp = f.mSmtp; } },
        { { F::txtMPort, "ﾒｰﾙ設定のポートが未入力です。" },
          [](auto &v, auto &f) { v.mPort = f.mPort; } },
        { { F::optNon, "SMTPサーバーの認証方法が未入力です。" },
          [](auto &v, auto &) { v.certify = kCertifyPopBefore; } },
        { { F::txtMUserId, "ﾒｰﾙ設定のユーザーIDが未入力です。" },
          [](auto &v, auto &f) { v.mUserId = f.mUserId; } },
        { { F::txtMPassWord, "ﾒｰﾙ設定のパスワードが未入力です。" },
          [](auto &v, auto &f) { v.mPassWord = f.mPassWord; } },
        { { F::txtMSubject, "ﾒｰﾙ設定の表題が未入力です。" },
          [](auto &v, auto &f) { v.mSubject = f.mSubject; } },
        { { F::txtMMailAdress, "ﾒｰﾙ設定の送信メールアドレスが未入力です。" },
          [](auto &v, auto &f) { v.mMailAdress = f.mMailAdress; } },
        { { F::txtSLog, "ｼｽﾃﾑ設定のLOGの出力先が未入力です。" },
          [](auto &v, auto &f) { v.sLog = f.sLog; } },
        { { F::txtSTempLog, "ｼｽﾃﾑ設定の添付ﾌｧｲﾙLOGの出力先が未入力です。" },
          [](auto &v, auto &f) { v.sTempLog = f.sTempLog; } },
        { { F::txtSTemp, "ｼｽﾃﾑ設定の作業ﾌｫﾙﾀﾞの出力先が未入力です。" },
          [](auto &v, auto &f) { v.sTemp = f.sTemp; } },
    };
    for (const Step &step : steps) {
        ExpectFailure(v, step.expected);
        step.fill(v, full);
    }
    EXPECT_FALSE(CheckSettings(v).has_value());
}

TEST(SettingsCheck, MailAccountIsOptionalOnlyWithoutAuthentication)
{
    TempDir dir;
    SettingsValues v = Valid(dir);
    v.mUserId.clear();
    v.mPassWord.clear();
    v.certify = kCertifyNone;
    EXPECT_FALSE(CheckSettings(v).has_value());
    for (int16_t method : { kCertifyPopBefore, kCertifyLogin, kCertifyCramMd5, kCertifyPlain }) {
        v.certify = method;
        ExpectFailure(v, { F::txtMUserId, "ﾒｰﾙ設定のユーザーIDが未入力です。" });
    }
}

// A token takes the password's place; the mailbox and the application's
// client ID are needed instead.
TEST(SettingsCheck, OAuthNeedsTheMailboxAndAClientButNoPassword)
{
    TempDir dir;
    SettingsValues v = Valid(dir);
    v.certify = kCertifyOAuth;
    v.mPassWord.clear();
    v.oProvider = "microsoft";
    v.oClientId = "00000000-0000-0000-0000-000000000001";
    EXPECT_FALSE(CheckSettings(v).has_value());
    v.oClientId = "  ";
    ExpectFailure(v, { F::txtOClientId, "OAuth設定のクライアントIDが未入力です。" });
    v.oProvider = "yahoo";
    ExpectFailure(
        v, { F::cboOProvider,
             "OAuth設定のプロバイダーは microsoft、google、custom のどれかにしてください。" });
    v.mUserId.clear();
    ExpectFailure(v, { F::txtMUserId, "ﾒｰﾙ設定のユーザーIDが未入力です。" });
}

TEST(SettingsCheck, OnlySpacesHalfOrFullWidthAreBlank)
{
    EXPECT_TRUE(IsBlankSetting(""));
    EXPECT_TRUE(IsBlankSetting("   "));
    EXPECT_TRUE(IsBlankSetting("\u3000 \u3000"));
    EXPECT_FALSE(IsBlankSetting(" a "));
    EXPECT_FALSE(IsBlankSetting("\u3000ア\u3000"));
    EXPECT_FALSE(IsBlankSetting("\t")) << "only spaces are trimmed";

    TempDir dir;
    SettingsValues v = Valid(dir);
    v.uHoukoku = "   ";
    ExpectFailure(v, { F::txtUHoukoku, "USER設定の報告IDが未入力です。" });
    v.uHoukoku = "\u3000\u3000";
    ExpectFailure(v, { F::txtUHoukoku, "USER設定の報告IDが未入力です。" });
    v.uHoukoku = " 報告 ";
    EXPECT_FALSE(CheckSettings(v).has_value()) << "blanks around a value are kept, not refused";
}

TEST(SettingsCheck, LengthCountsCp932BytesUpTo255)
{
    TempDir dir;
    SettingsValues v = Valid(dir);
    v.mSubject = Repeat("表", 128); // 256 bytes in 128 characters
    ExpectFailure(v, { F::txtMSubject, "ﾒｰﾙ設定の表題が入力文字数をオーバーしています" });
    v.mSubject = Repeat("表", 127) + "A"; // 255 bytes
    EXPECT_FALSE(CheckSettings(v).has_value());
    v.mSubject = Repeat("ｱ", 255); // half-width katakana: one byte each
    EXPECT_FALSE(CheckSettings(v).has_value());
    v.mSubject = Repeat("ｱ", 256);
    ExpectFailure(v, { F::txtMSubject, "ﾒｰﾙ設定の表題が入力文字数をオーバーしています" });
}

TEST(SettingsCheck, EveryFieldHasItsLengthMessageInOrder)
{
    TempDir dir;
    const std::string tooLong = Repeat("x", 256);
    const std::vector<std::pair<std::string SettingsValues::*, Expected>> fields = {
        { &SettingsValues::uHoukoku,
          { F::txtUHoukoku, "USER設定の報告IDが入力文字数をオーバーしています" } },
        { &SettingsValues::uUserId,
          { F::txtUUserId, "USER設定のユーザーIDが入力文字数をオーバーしています" } },
        { &SettingsValues::uPassWord,
          { F::txtUPassWord, "USER設定のパスワードが入力文字数をオーバーしています" } },
        { &SettingsValues::uMailAdress,
          { F::txtUMailAdress, "USER設定の返信メールアドレスが入力文字数をオーバーしています" } },
        { &SettingsValues::mSmtp,
          { F::txtMSmtp, "ﾒｰﾙ設定のSMTPが入力文字数をオーバーしています" } },
        { &SettingsValues::mPort,
          { F::txtMPort, "ﾒｰﾙ設定のポートが入力文字数をオーバーしています" } },
        { &SettingsValues::mUserId,
          { F::txtMUserId, "ﾒｰﾙ設定のユーザーIDが入力文字数をオーバーしています" } },
        { &SettingsValues::mPassWord,
          { F::txtMPassWord, "ﾒｰﾙ設定のパスワードが入力文字数をオーバーしています" } },
        { &SettingsValues::mSubject,
          { F::txtMSubject, "ﾒｰﾙ設定の表題が入力文字数をオーバーしています" } },
        { &SettingsValues::mMailAdress,
          { F::txtMMailAdress, "ﾒｰﾙ設定の送信メールアドレスが入力文字数をオーバーしています" } },
        { &SettingsValues::sLog,
          { F::txtSLog, "ｼｽﾃﾑ設定のLOGの出力先が入力文字数をオーバーしています" } },
        { &SettingsValues::sTempLog,
          { F::txtSTempLog, "ｼｽﾃﾑ設定の添付ﾌｧｲﾙLOGの出力先が入力文字数をオーバーしています" } },
        { &SettingsValues::sTemp,
          { F::txtSTemp, "ｼｽﾃﾑ設定の作業ﾌｫﾙﾀﾞの出力先が入力文字数をオーバーしています" } },
    };
    // Made too long from the last field backwards: the earliest one is always reported.
    SettingsValues v = Valid(dir);
    for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
        v.*(it->first) = tooLong;
        ExpectFailure(v, it->second);
    }
}

TEST(SettingsCheck, PassesRunInOrder)
{
    TempDir dir;
    SettingsValues v = Valid(dir);
    // A blank field wins over a long one that comes before it.
    v.uHoukoku = Repeat("x", 300);
    v.sTemp = "";
    ExpectFailure(v, { F::txtSTemp, "ｼｽﾃﾑ設定の作業ﾌｫﾙﾀﾞの出力先が未入力です。" });

    // The mail account's length counts even when no account is needed.
    v = Valid(dir);
    v.certify = kCertifyNone;
    v.mUserId = Repeat("u", 300);
    ExpectFailure(v, { F::txtMUserId, "ﾒｰﾙ設定のユーザーIDが入力文字数をオーバーしています" });

    // A missing folder is reported only once both addresses pass.
    v = Valid(dir);
    v.sLog = dir / "missing";
    v.mMailAdress = "houkoku.example.go.jp";
    ExpectFailure(v,
                  { F::txtMMailAdress, "ﾕｰｻﾞｰ設定の送信メールアドレスの指定に間違いがあります。\r\n"
                                       "メールアドレス内に\"@\"がありません。" });
    v.mMailAdress = "houkoku@example.go.jp";
    ExpectFailure(v, { F::txtSLog, "ｼｽﾃﾑ設定のLOGﾌｧｲﾙの出力先が存在しません。" });
}

TEST(SettingsCheck, AddressesAreCheckedReplyFirstWithTheReason)
{
    TempDir dir;
    SettingsValues v = Valid(dir);
    v.uMailAdress = "reporter@@example.co.jp";
    v.mMailAdress = "bad";
    ExpectFailure(v,
                  { F::txtUMailAdress, "ﾕｰｻﾞｰ設定の返信メールアドレスの指定に間違いがあります。\r\n"
                                       "メールアドレス内に\"@\"が複数あります。" });
    v.uMailAdress = " reporter@example.co.jp"; // addresses are checked untrimmed
    ExpectFailure(v,
                  { F::txtUMailAdress, "ﾕｰｻﾞｰ設定の返信メールアドレスの指定に間違いがあります。\r\n"
                                       "電子メールに使用できない文字が入力されています。" });
}

// Anything that would change the host or port a URL reaches is refused.
TEST(SettingsCheck, SmtpServerIsANameOrAnAddress)
{
    TempDir dir;
    SettingsValues v = Valid(dir);
    for (const char *good : { "[2001:db8::25]", "192.0.2.25", " mail.example.jp. " }) {
        v.mSmtp = good;
        EXPECT_FALSE(CheckSettings(v).has_value()) << good;
    }
    for (const char *bad : { "mail.example.test#x", "user@mail.example.jp", "2001:db8::25" }) {
        v.mSmtp = bad;
        ExpectFailure(v, { F::txtMSmtp, "ﾒｰﾙ設定のSMTPにはサーバー名、IPv4アドレス、または [ ] "
                                        "で囲んだIPv6アドレスを入力してください。" });
    }
}

TEST(SettingsCheck, FoldersMustNameSomethingThatExists)
{
    TempDir dir;
    WriteFile(dir / "file.txt", "x");
    SettingsValues v = Valid(dir);
    v.sTempLog = dir / "file.txt";
    v.sTemp = dir.path() + "/";
    EXPECT_FALSE(CheckSettings(v).has_value()) << "an existing file passes as well";

    v.sTempLog = dir / "gone";
    ExpectFailure(v, { F::txtSTempLog, "ｼｽﾃﾑ設定の添付ﾌｧｲﾙの保存先が存在しません。" });
    v.sTempLog = dir.path();
    v.sTemp = dir / "gone/deeper";
    ExpectFailure(v, { F::txtSTemp, "ｼｽﾃﾑ設定の作業ﾌｫﾙﾀﾞが存在しません。" });
}

// A '"' cannot travel on the cabinet library's command line: refused even for
// a folder that exists, before the existence check.
TEST(SettingsCheck, FolderWithAQuoteIsRefused)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "a\"b");
    SettingsValues v = Valid(dir);
    v.sTemp = dir / "a\"b";
    ExpectFailure(v, { F::txtSTemp,
                       "ｼｽﾃﾑ設定の作業ﾌｫﾙﾀﾞに「\"」は使えません。フォルダ名を変更してください。" });
    v.sTemp = dir.path();
    v.sLog = dir / "gone\"";
    ExpectFailure(v,
                  { F::txtSLog,
                    "ｼｽﾃﾑ設定のLOGの出力先に「\"」は使えません。フォルダ名を変更してください。" });
}

TEST(StoredNumber, ConvertsLikeTheStoredFormsWereAlwaysRead)
{
    auto convert = [](const std::string &text) -> std::string {
        int16_t n = 0;
        std::string failure;
        return ToInt16(text, n, failure) ? std::to_string(n) : failure;
    };
    const std::string mismatch = "型が一致しません。";
    const std::string overflow = "オーバーフローしました。";
    EXPECT_EQ(convert("3"), "3");
    EXPECT_EQ(convert(" 7 "), "7");
    EXPECT_EQ(convert("-32768"), "-32768");
    EXPECT_EQ(convert("32767"), "32767");
    EXPECT_EQ(convert("+4"), "4");
    EXPECT_EQ(convert("2.5"), "2") << "halves round to even";
    EXPECT_EQ(convert("3.5"), "4");
    EXPECT_EQ(convert("2.51"), "3");
    EXPECT_EQ(convert(".9"), "1");
    EXPECT_EQ(convert(""), mismatch);
    EXPECT_EQ(convert("abc"), mismatch);
    EXPECT_EQ(convert("1a"), mismatch);
    EXPECT_EQ(convert("-"), mismatch);
    EXPECT_EQ(convert("1 2"), mismatch);
    EXPECT_EQ(convert("32768"), overflow);
    EXPECT_EQ(convert("32767.5"), overflow);
    EXPECT_EQ(convert("-32769"), overflow);
    EXPECT_EQ(convert("99999999999999999999"), overflow);
}
