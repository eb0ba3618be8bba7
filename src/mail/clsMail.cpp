#include "mail/clsMail.h"

#include "common/dynlib.h"
#include "common/userfolders.h"

#include <exception>
#include <memory>
#include <openssl/crypto.h>

namespace kestlin {

namespace {

const char *const kLibrary = "libbsmtp.so";
const char *const kTag = "clsMailｴﾗｰ";

using SendMailFn
    = char *(*)(const char *, const char *, const char *, const char *, const char *, const char *);
using ProgressFn = void (*)(void *, int64_t, int64_t);
using SendMailWithProgressFn = char *(*)(const char *, const char *, const char *, const char *,
                                         const char *, const char *, ProgressFn, void *);
using RcvMailFn
    = int (*)(const char *, const char *, const char *, const char *, const char *, char **);
using FreeFn = void (*)(char *);

// The library's view of a certificate in question (BsmtpCertificate).
struct CertificateView
{
    const char *server, *subject, *issuer, *validFrom, *validUntil, *fingerprint, *problem, *line;
    int kind;
};
constexpr int kAskPlain = 1; // BSMTP_ASK_PLAIN
constexpr int kNotice = 2; // BSMTP_NOTICE
using CheckKnownServersFn = int (*)(const char *, char **);

// What AskTrust reaches: the question and where notices go.
struct TrustContext
{
    const std::function<bool(const ServerCertificate &)> &ask;
    std::vector<std::string> &notices;
};
using TrustFn = int (*)(void *, const CertificateView *);
using SendMailWithTrustFn
    = char *(*)(const char *, const char *, const char *, const char *, const char *, const char *,
                const char *, ProgressFn, void *, TrustFn, void *);
using RcvMailWithTrustFn = int (*)(const char *, const char *, const char *, const char *,
                                   const char *, const char *, TrustFn, void *, char **);

struct Library
{
    SharedLibrary library;
    SendMailFn sendMail = nullptr;
    SendMailWithProgressFn sendMailWithProgress = nullptr;
    RcvMailFn rcvMail = nullptr;
    SendMailWithTrustFn sendMailWithTrust = nullptr;
    RcvMailWithTrustFn rcvMailWithTrust = nullptr;
    FreeFn release = nullptr;

    // The reporting and trusting entry points only when they are asked for:
    // without them, a library that predates them still sends.
    bool Load(bool withProgress, bool withTrust, std::string &reason)
    {
        if (!library.Load(kLibrary, reason))
            return false;
        if (withTrust)
            return (sendMailWithTrust
                    = library.Function<SendMailWithTrustFn>("SendMailWithTrust", reason))
                   && (rcvMailWithTrust
                       = library.Function<RcvMailWithTrustFn>("RcvMailWithTrust", reason))
                   && (release = library.Function<FreeFn>("BsmtpFree", reason));
        if (withProgress)
            sendMailWithProgress
                = library.Function<SendMailWithProgressFn>("SendMailWithProgress", reason);
        else
            sendMail = library.Function<SendMailFn>("SendMail", reason);
        return (sendMail || sendMailWithProgress)
               && (rcvMail = library.Function<RcvMailFn>("RcvMail", reason))
               && (release = library.Function<FreeFn>("BsmtpFree", reason));
    }

    // The library's text, released at once; nullptr counts as a failure.
    std::string Take(char *text, bool &missing) const
    {
        missing = text == nullptr;
        std::string copy = text ? text : "";
        release(text);
        return copy;
    }
};

const char *MethodWord(int16_t certify)
{
    switch (certify) {
    case 2:
        return "LOGIN";
    case 3:
        return "CRAM-MD5";
    case 4:
        return "PLAIN";
    default:
        return nullptr;
    }
}

// The library calls back through C: nothing may be thrown across it, and a
// failing display of the progress is no reason to stop a submission.
void ReportSending(void *context, int64_t sent, int64_t total)
{
    try {
        (*static_cast<const std::function<void(int64_t, int64_t)> *>(context))(sent, total);
    } catch (...) { }
}

// Nothing may be thrown across the library either; a question that fails
// counts as No.
int AskTrust(void *context, const CertificateView *view)
{
    try {
        auto &trust = *static_cast<TrustContext *>(context);
        if (view->kind == kNotice) {
            trust.notices.emplace_back(view->problem);
            return 0;
        }
        if (!trust.ask)
            return 0;
        return trust.ask(
                   { view->server, view->subject, view->issuer, view->validFrom, view->validUntil,
                     view->fingerprint, view->problem, view->line,
                     view->kind == kAskPlain ? TrustKind::PlainText : TrustKind::Certificate })
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
    CheckKnownServersFn check = nullptr;
    FreeFn release = nullptr;
    if (!library.Load(kLibrary, problems)
        || !(check = library.Function<CheckKnownServersFn>("BsmtpCheckKnownServers", problems))
        || !(release = library.Function<FreeFn>("BsmtpFree", problems)))
        return false;
    char *text = nullptr;
    const bool ok = check(path.c_str(), &text) != 0;
    problems = text ? text : "";
    release(text);
    return ok;
}

bool clsMail::Send()
{
    try {
        const std::string server
            = smtp_ + '\t' + (port_.empty() ? std::string("25") : port_) + '\t'
              + (timeOut_ != 0 ? std::to_string(timeOut_) : std::string("120"));
        std::string recipients = "<" + to_;
        if (!cc_.empty())
            recipients += "\tcc\t" + cc_;
        if (!bcc_.empty())
            recipients += "\tbcc\t" + bcc_;
        recipients += ">";

        Library library;
        std::string reason;
        const bool trusting = !knownServers_.empty();
        if (!library.Load(static_cast<bool>(Sending), trusting, reason)) {
            if (errMsg_.empty())
                errMsg_ = reason + kTag;
            return false;
        }

        bool missing = false;
        notices_.clear();
        TrustContext trust { TrustCertificate, notices_ };
        if (certify_ == 1) {
            const std::string popServer = pop_ + "\t110";
            char *answer = nullptr;
            const std::string folder = LocateFiles().workFolder;
            const int ok
                = trusting
                      ? library.rcvMailWithTrust(popServer.c_str(), userId_.c_str(),
                                                 password_.c_str(), "STAT", folder.c_str(),
                                                 knownServers_.c_str(), &AskTrust, &trust, &answer)
                      : library.rcvMail(popServer.c_str(), userId_.c_str(), password_.c_str(),
                                        "STAT", folder.c_str(), &answer);
            const std::string text = library.Take(answer, missing);
            if (!ok) {
                errMsg_ = text + " " + kTag;
                return false;
            }
        }

        std::string sender = "<" + from_ + ">";
        if (const char *method = MethodWord(certify_))
            sender += '\t' + userId_ + ':' + password_ + '\t' + method;

        char *reply = nullptr;
        if (trusting)
            reply = library.sendMailWithTrust(
                server.c_str(), recipients.c_str(), sender.c_str(), subject_.c_str(), main_.c_str(),
                file_.c_str(), knownServers_.c_str(), Sending ? &ReportSending : nullptr, &Sending,
                &AskTrust, &trust);
        else if (Sending)
            reply = library.sendMailWithProgress(server.c_str(), recipients.c_str(), sender.c_str(),
                                                 subject_.c_str(), main_.c_str(), file_.c_str(),
                                                 &ReportSending, &Sending);
        else
            reply = library.sendMail(server.c_str(), recipients.c_str(), sender.c_str(),
                                     subject_.c_str(), main_.c_str(), file_.c_str());
        Wipe(sender);
        const std::string result = library.Take(reply, missing);
        if (result.empty() && !missing)
            return true;
        errMsg_
            = (missing ? std::string(kLibrary) + " から結果が返りませんでした。" : result) + kTag;
        return false;
    } catch (const std::exception &error) {
        if (errMsg_.empty())
            errMsg_ = std::string(error.what()) + kTag;
        return false;
    }
}

} // namespace kestlin
