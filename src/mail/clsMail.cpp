#include "mail/clsMail.h"

#include "common/dynlib.h"
#include "common/userfolders.h"

#include <exception>
#include <memory>

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

struct Library
{
    SharedLibrary library;
    SendMailFn sendMail = nullptr;
    SendMailWithProgressFn sendMailWithProgress = nullptr;
    RcvMailFn rcvMail = nullptr;
    FreeFn release = nullptr;

    // The reporting entry point only when it is asked for: without it, a
    // library that predates it still sends.
    bool Load(bool withProgress, std::string &reason)
    {
        if (!library.Load(kLibrary, reason))
            return false;
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

} // namespace

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
        if (!library.Load(static_cast<bool>(Sending), reason)) {
            if (errMsg_.empty())
                errMsg_ = reason + kTag;
            return false;
        }

        bool missing = false;
        if (certify_ == 1) {
            const std::string popServer = pop_ + "\t110";
            char *answer = nullptr;
            const int ok = library.rcvMail(popServer.c_str(), userId_.c_str(), password_.c_str(),
                                           "STAT", LocateFiles().workFolder.c_str(), &answer);
            const std::string text = library.Take(answer, missing);
            if (!ok) {
                errMsg_ = text + " " + kTag;
                return false;
            }
        }

        std::string sender = "<" + from_ + ">";
        if (const char *method = MethodWord(certify_))
            sender += '\t' + userId_ + ':' + password_ + '\t' + method;

        char *reply = Sending ? library.sendMailWithProgress(
                          server.c_str(), recipients.c_str(), sender.c_str(), subject_.c_str(),
                          main_.c_str(), file_.c_str(), &ReportSending, &Sending)
                              : library.sendMail(server.c_str(), recipients.c_str(), sender.c_str(),
                                                 subject_.c_str(), main_.c_str(), file_.c_str());
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
