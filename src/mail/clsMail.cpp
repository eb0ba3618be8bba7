#include "mail/clsMail.h"

#include "common/dynlib.h"
#include "common/programfolder.h"

#include <exception>
#include <memory>

namespace kestlin {

namespace {

const char *const kLibrary = "libbsmtp.so";
const char *const kTag = "clsMailｴﾗｰ";

using SendMailFn
    = char *(*)(const char *, const char *, const char *, const char *, const char *, const char *);
using RcvMailFn
    = int (*)(const char *, const char *, const char *, const char *, const char *, char **);
using FreeFn = void (*)(char *);

struct Library
{
    SharedLibrary library;
    SendMailFn sendMail = nullptr;
    RcvMailFn rcvMail = nullptr;
    FreeFn release = nullptr;

    bool Load(std::string &reason)
    {
        return library.Load(kLibrary, reason)
               && (sendMail = library.Function<SendMailFn>("SendMail", reason))
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
        if (!library.Load(reason)) {
            if (errMsg_.empty())
                errMsg_ = reason + kTag;
            return false;
        }

        bool missing = false;
        if (certify_ == 1) {
            const std::string popServer = pop_ + "\t110";
            char *answer = nullptr;
            const int ok = library.rcvMail(popServer.c_str(), userId_.c_str(), password_.c_str(),
                                           "STAT", ProgramFolder().c_str(), &answer);
            const std::string text = library.Take(answer, missing);
            if (!ok) {
                errMsg_ = text + " " + kTag;
                return false;
            }
        }

        std::string sender = "<" + from_ + ">";
        if (const char *method = MethodWord(certify_))
            sender += '\t' + userId_ + ':' + password_ + '\t' + method;

        const std::string result
            = library.Take(library.sendMail(server.c_str(), recipients.c_str(), sender.c_str(),
                                            subject_.c_str(), main_.c_str(), file_.c_str()),
                           missing);
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
