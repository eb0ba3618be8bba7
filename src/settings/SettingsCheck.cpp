#include "settings/SettingsCheck.h"

#include "common/basCommon.h"
#include "common/cp932.h"
#include "common/files.h"
#include "common/hostname.h"
#include "mail/OAuthProvider.h"

#include <array>
#include <string_view>

namespace kestlin {

namespace {

struct TextRule
{
    SettingsField field;
    const std::string SettingsValues::*text;
    const char *message;
};

using F = SettingsField;
using V = SettingsValues;

// Required fields, in check order. The mail account is required only with a
// method other than "none"; it is checked between the method and the subject.
constexpr std::array kRequiredBefore {
    TextRule { F::txtUHoukoku, &V::uHoukoku, "USER設定の報告IDが未入力です。" },
    TextRule { F::txtUUserId, &V::uUserId, "USER設定のユーザーIDが未入力です。" },
    TextRule { F::txtUPassWord, &V::uPassWord, "USER設定のパスワードが未入力です。" },
    TextRule { F::txtUMailAdress, &V::uMailAdress, "USER設定の返信メールアドレスが未入力です。" },
    TextRule { F::txtMSmtp, &V::mSmtp, "ﾒｰﾙ設定のSMTPが未入力です。" },
    TextRule { F::txtMPort, &V::mPort, "ﾒｰﾙ設定のポートが未入力です。" },
};
constexpr std::array kRequiredAccount {
    TextRule { F::txtMUserId, &V::mUserId, "ﾒｰﾙ設定のユーザーIDが未入力です。" },
    TextRule { F::txtMPassWord, &V::mPassWord, "ﾒｰﾙ設定のパスワードが未入力です。" },
};
constexpr std::array kRequiredAfter {
    TextRule { F::txtMSubject, &V::mSubject, "ﾒｰﾙ設定の表題が未入力です。" },
    TextRule { F::txtMMailAdress, &V::mMailAdress, "ﾒｰﾙ設定の送信メールアドレスが未入力です。" },
    TextRule { F::txtSLog, &V::sLog, "ｼｽﾃﾑ設定のLOGの出力先が未入力です。" },
    TextRule { F::txtSTempLog, &V::sTempLog, "ｼｽﾃﾑ設定の添付ﾌｧｲﾙLOGの出力先が未入力です。" },
    TextRule { F::txtSTemp, &V::sTemp, "ｼｽﾃﾑ設定の作業ﾌｫﾙﾀﾞの出力先が未入力です。" },
};
constexpr const char *kNoMethod = "SMTPサーバーの認証方法が未入力です。";

// Every text field, the mail account whatever the method.
constexpr std::array kLength {
    TextRule { F::txtUHoukoku, &V::uHoukoku, "USER設定の報告IDが入力文字数をオーバーしています" },
    TextRule { F::txtUUserId, &V::uUserId, "USER設定のユーザーIDが入力文字数をオーバーしています" },
    TextRule { F::txtUPassWord, &V::uPassWord,
               "USER設定のパスワードが入力文字数をオーバーしています" },
    TextRule { F::txtUMailAdress, &V::uMailAdress,
               "USER設定の返信メールアドレスが入力文字数をオーバーしています" },
    TextRule { F::txtMSmtp, &V::mSmtp, "ﾒｰﾙ設定のSMTPが入力文字数をオーバーしています" },
    TextRule { F::txtMPort, &V::mPort, "ﾒｰﾙ設定のポートが入力文字数をオーバーしています" },
    TextRule { F::txtMUserId, &V::mUserId, "ﾒｰﾙ設定のユーザーIDが入力文字数をオーバーしています" },
    TextRule { F::txtMPassWord, &V::mPassWord,
               "ﾒｰﾙ設定のパスワードが入力文字数をオーバーしています" },
    TextRule { F::txtMSubject, &V::mSubject, "ﾒｰﾙ設定の表題が入力文字数をオーバーしています" },
    TextRule { F::txtMMailAdress, &V::mMailAdress,
               "ﾒｰﾙ設定の送信メールアドレスが入力文字数をオーバーしています" },
    TextRule { F::txtSLog, &V::sLog, "ｼｽﾃﾑ設定のLOGの出力先が入力文字数をオーバーしています" },
    TextRule { F::txtSTempLog, &V::sTempLog,
               "ｼｽﾃﾑ設定の添付ﾌｧｲﾙLOGの出力先が入力文字数をオーバーしています" },
    TextRule { F::txtSTemp, &V::sTemp,
               "ｼｽﾃﾑ設定の作業ﾌｫﾙﾀﾞの出力先が入力文字数をオーバーしています" },
};

// The server reaches a URL: anything but a name or an address there would
// change the host or port that is reached.
constexpr std::array kServer {
    TextRule { F::txtMSmtp, &V::mSmtp,
               "ﾒｰﾙ設定のSMTPにはサーバー名、IPv4アドレス、または [ ] で囲んだIPv6アドレスを"
               "入力してください。" },
};

constexpr std::array kAddress {
    TextRule { F::txtUMailAdress, &V::uMailAdress,
               "ﾕｰｻﾞｰ設定の返信メールアドレスの指定に間違いがあります。" },
    TextRule { F::txtMMailAdress, &V::mMailAdress,
               "ﾕｰｻﾞｰ設定の送信メールアドレスの指定に間違いがあります。" },
};

constexpr std::array kFolder {
    TextRule { F::txtSLog, &V::sLog, "ｼｽﾃﾑ設定のLOGﾌｧｲﾙの出力先が存在しません。" },
    TextRule { F::txtSTempLog, &V::sTempLog, "ｼｽﾃﾑ設定の添付ﾌｧｲﾙの保存先が存在しません。" },
    TextRule { F::txtSTemp, &V::sTemp, "ｼｽﾃﾑ設定の作業ﾌｫﾙﾀﾞが存在しません。" },
};

// The cabinet library's command line quotes each path with '"' and has no
// escape for one inside: such a folder would break every submission.
constexpr std::array kFolderCharacters {
    TextRule { F::txtSLog, &V::sLog,
               "ｼｽﾃﾑ設定のLOGの出力先に「\"」は使えません。フォルダ名を変更してください。" },
    TextRule {
        F::txtSTempLog, &V::sTempLog,
        "ｼｽﾃﾑ設定の添付ﾌｧｲﾙLOGの出力先に「\"」は使えません。フォルダ名を変更してください。" },
    TextRule { F::txtSTemp, &V::sTemp,
               "ｼｽﾃﾑ設定の作業ﾌｫﾙﾀﾞに「\"」は使えません。フォルダ名を変更してください。" },
};

using Result = std::optional<SettingsCheckFailure>;

template<typename Rules, typename Fails>
Result FirstFailing(const Rules &rules, const SettingsValues &values, Fails fails)
{
    for (const TextRule &rule : rules) {
        if (fails(values.*rule.text))
            return SettingsCheckFailure { rule.field, rule.message };
    }
    return std::nullopt;
}

// The mailbox signs in with a token instead of a password; the token comes
// from the provider's application, which must be known.
Result CheckOAuth(const SettingsValues &values)
{
    if (IsBlankSetting(values.mUserId))
        return SettingsCheckFailure { F::txtMUserId, kRequiredAccount[0].message };
    if (!IsOAuthProvider(values.oProvider))
        return SettingsCheckFailure { F::cboOProvider,
                                      "OAuth設定のプロバイダーは microsoft、google、custom "
                                      "のどれかにしてください。" };
    if (IsBlankSetting(values.oClientId) && !HasBuiltInClient(values.oProvider))
        return SettingsCheckFailure { F::txtOClientId, "OAuth設定のクライアントIDが未入力です。" };
    return std::nullopt;
}

Result CheckRequired(const SettingsValues &values)
{
    if (Result r = FirstFailing(kRequiredBefore, values, IsBlankSetting))
        return r;
    if (values.certify == kCertifyUnset)
        return SettingsCheckFailure { F::optNon, kNoMethod };
    if (values.certify == kCertifyOAuth) {
        if (Result r = CheckOAuth(values))
            return r;
    } else if (values.certify != kCertifyNone) {
        if (Result r = FirstFailing(kRequiredAccount, values, IsBlankSetting))
            return r;
    }
    return FirstFailing(kRequiredAfter, values, IsBlankSetting);
}

Result CheckAddresses(const SettingsValues &values)
{
    for (const TextRule &rule : kAddress) {
        std::string reason;
        if (!ChkMailAddress(values.*rule.text, reason))
            return SettingsCheckFailure { rule.field, std::string(rule.message) + "\r\n" + reason };
    }
    return std::nullopt;
}

bool HasQuote(const std::string &text)
{
    return text.find('"') != std::string::npos;
}

bool NoServerName(const std::string &text)
{
    const size_t first = text.find_first_not_of(' ');
    return first == std::string::npos
           || !IsServerName(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

bool TooLong(const std::string &text)
{
    return cp932::ByteLength(text) > kMaxSettingBytes;
}

// A file at the path is as good as a folder here: the lookup sees both.
bool NothingThere(const std::string &path)
{
    return !NameTaken(path);
}

} // namespace

bool IsBlankSetting(const std::string &text)
{
    // The ideographic space (U+3000) counts as a space: a field typed full of
    // full-width spaces under a Japanese input method is as empty as one of
    // ASCII spaces, and would otherwise be stored as a "value".
    constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
    std::string_view rest = text;
    while (!rest.empty()) {
        if (rest.front() == ' ')
            rest.remove_prefix(1);
        else if (rest.starts_with(kIdeographicSpace))
            rest.remove_prefix(kIdeographicSpace.size());
        else
            return false;
    }
    return true;
}

std::optional<SettingsCheckFailure> CheckSettings(const SettingsValues &values)
{
    if (Result r = CheckRequired(values))
        return r;
    if (Result r = FirstFailing(kLength, values, TooLong))
        return r;
    if (Result r = FirstFailing(kServer, values, NoServerName))
        return r;
    if (Result r = CheckAddresses(values))
        return r;
    if (Result r = FirstFailing(kFolderCharacters, values, HasQuote))
        return r;
    return FirstFailing(kFolder, values, NothingThere);
}

} // namespace kestlin
