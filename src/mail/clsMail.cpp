#include "mail/clsMail.h"

#include "common/dynlib.h"
#include "platform/bsmtp/bsmtp.h"

#include <exception>
#include <memory>
#include <openssl/crypto.h>

namespace kestlin {

namespace {

const char *const kLibrary = "libbsmtp.so";
const char *const kTag = "clsMailｴﾗｰ";

// The entry points, typed by the library's own header.
struct Library
{
    SharedLibrary library;
    decltype(&BsmtpSubmit) submit = nullptr;
    decltype(&BsmtpFree) release = nullptr;

    bool Load(std::string &reason)
    {
        return library.Load(kLibrary, reason)
               && (submit = library.Function<decltype(submit)>("BsmtpSubmit", reason))
               && (release = library.Function<decltype(release)>("BsmtpFree", reason));
    }
};

// The settings' code as the library's sign-in; unknown codes sign in not at all.
int SignIn(int16_t certify)
{
    return certify >= BSMTP_SIGN_IN_NONE && certify <= BSMTP_SIGN_IN_BEARER ? certify
                                                                            : BSMTP_SIGN_IN_NONE;
}

// "" is 0 (the library's 25); anything but a port number is refused here.
bool PortNumber(const std::string &text, int &port)
{
    port = 0;
    if (text.empty())
        return true;
    if (text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

// The library calls back through C: nothing may be thrown across it, and a
// failing display of the progress is no reason to stop a submission.
void ReportSending(void *context, int64_t sent, int64_t total)
{
    try {
        (*static_cast<const std::function<void(int64_t, int64_t)> *>(context))(sent, total);
    } catch (...) { }
}

// What AskTrust reaches: the question and where notices go.
struct TrustContext
{
    const std::function<bool(const ServerCertificate &)> &ask;
    std::vector<std::string> &notices;
};

// Nothing may be thrown across the library either; a question that fails
// counts as No.
int AskTrust(void *context, const BsmtpCertificate *view)
{
    try {
        auto &trust = *static_cast<TrustContext *>(context);
        if (view->kind == BSMTP_NOTICE) {
            trust.notices.emplace_back(view->problem);
            return 0;
        }
        if (!trust.ask)
            return 0;
        return trust.ask({ view->server, view->subject, view->issuer, view->validFrom,
                           view->validUntil, view->fingerprint, view->problem, view->line,
                           view->kind == BSMTP_ASK_PLAIN ? TrustKind::PlainText
                                                         : TrustKind::Certificate })
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

// The question about a server without TLS: the server and port apart.
std::string PlainTextQuestion(const ServerCertificate &server)
{
    const size_t colon = server.server.rfind(':');
    std::string host = server.server.substr(0, colon);
    if (host.size() > 2 && host.front() == '[')
        host = host.substr(1, host.size() - 2);
    const std::string port = colon == std::string::npos ? "" : server.server.substr(colon + 1);
    return "このサーバーは暗号化に対応していません。パスワードを暗号化せずに送信しますか？\r\n\r\n"
           "サーバー: "
           + host + "\r\nポート: " + port + "\r\n\r\n" + server.problem
           + "「はい」を選ぶと、このサーバーを記録して次からは確認しません。";
}

// Overwrites a secret before its memory is given back.
void Wipe(std::string &secret)
{
    OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

MailDelivery Delivery(int delivery)
{
    switch (delivery) {
    case BSMTP_ACCEPTED:
        return MailDelivery::Accepted;
    case BSMTP_UNKNOWN:
        return MailDelivery::Unknown;
    default:
        return MailDelivery::NotSent;
    }
}

} // namespace

std::string TrustQuestion(const ServerCertificate &certificate)
{
    if (certificate.kind == TrustKind::PlainText)
        return PlainTextQuestion(certificate);
    // The fingerprint in two lines of 16 bytes, as a person compares it.
    std::string fingerprint = certificate.fingerprint;
    if (fingerprint.size() > 48)
        fingerprint = fingerprint.substr(0, 47) + "\r\n　　" + fingerprint.substr(48);
    return "メールサーバー " + certificate.server + " の証明書を確認してください。\r\n"
           + certificate.problem + "\r\n\r\n" + "発行先: " + certificate.subject + "\r\n"
           + "発行者: " + certificate.issuer + "\r\n" + "有効期間: " + certificate.validFrom
           + " ～ " + certificate.validUntil + "\r\n" + "SHA-256 フィンガープリント:\r\n　　"
           + fingerprint + "\r\n\r\n"
           + "フィンガープリントがサーバーの管理者から知らされたものと同じときだけ、"
             "「はい」を選んでください。「はい」を選ぶと、この証明書を記録して次からは"
             "確認しません。\r\n\r\n"
           + "この証明書を信頼して送信しますか？";
}

clsMail::~clsMail()
{
    Wipe(password_);
}

bool CheckKnownServers(const std::string &path, std::string &problems)
{
    SharedLibrary library;
    decltype(&BsmtpCheckKnownServers) check = nullptr;
    decltype(&BsmtpFree) release = nullptr;
    if (!library.Load(kLibrary, problems)
        || !(check = library.Function<decltype(check)>("BsmtpCheckKnownServers", problems))
        || !(release = library.Function<decltype(release)>("BsmtpFree", problems)))
        return false;
    char *text = nullptr;
    const bool ok = check(path.c_str(), &text) != 0;
    problems = text ? text : "";
    release(text);
    return ok;
}

bool clsMail::Send()
{
    delivery_ = MailDelivery::NotSent;
    try {
        BsmtpSubmission submission {};
        submission.size = sizeof submission;
        if (!PortNumber(port_, submission.port)) {
            errMsg_ = "ポート番号が正しくありません: " + port_ + kTag;
            return false;
        }
        Library library;
        std::string reason;
        if (!library.Load(reason)) {
            if (errMsg_.empty())
                errMsg_ = reason + kTag;
            return false;
        }
        submission.host = smtp_.c_str();
        submission.timeoutSeconds = 120;
        submission.from = from_.c_str();
        submission.to = to_.c_str();
        submission.cc = cc_.c_str();
        submission.bcc = bcc_.c_str();
        submission.subject = subject_.c_str();
        submission.body = main_.c_str();
        submission.files = file_.c_str();
        submission.signIn = SignIn(certify_);
        submission.user = userId_.c_str();
        submission.password = password_.c_str();
        submission.pop3Host = pop_.c_str();
        submission.pop3Port = popPort_;
        notices_.clear();
        TrustContext trust { TrustCertificate, notices_ };
        if (!knownServers_.empty()) {
            submission.knownServers = knownServers_.c_str();
            submission.trust = &AskTrust;
            submission.trustContext = &trust;
        }
        submission.progress = Sending ? &ReportSending : nullptr;
        submission.progressContext = &Sending;

        const bool accepted = library.submit(&submission) != 0;
        std::unique_ptr<char, decltype(library.release)> result(submission.result, library.release);
        delivery_ = Delivery(submission.delivery);
        if (accepted)
            return true;
        if (!result)
            errMsg_ = std::string(kLibrary) + " から結果が返りませんでした。" + kTag;
        else if (submission.failedIn == BSMTP_FAILED_IN_POP3)
            errMsg_ = std::string(result.get()) + " " + kTag;
        else
            errMsg_ = result.get() + std::string(kTag);
        return false;
    } catch (const std::exception &error) {
        if (errMsg_.empty())
            errMsg_ = std::string(error.what()) + kTag;
        return false;
    }
}

} // namespace kestlin
