#include "mail/clsMail.h"

#include "common/dynlib.h"
#include "platform/bsmtp/bsmtp.h"

#include <exception>
#include <memory>

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

// Nothing may be thrown across the library either; a question that fails
// counts as No.
int AskTrust(void *context, const BsmtpCertificate *view)
{
    try {
        const auto &ask
            = *static_cast<const std::function<bool(const ServerCertificate &)> *>(context);
        return ask({ view->server, view->subject, view->issuer, view->validFrom, view->validUntil,
                     view->fingerprint, view->problem, view->line })
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
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
        if (!knownServers_.empty()) {
            submission.knownServers = knownServers_.c_str();
            submission.trust = TrustCertificate ? &AskTrust : nullptr;
            submission.trustContext = &TrustCertificate;
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
