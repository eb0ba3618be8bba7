#pragma once
// BsmtpSubmit as the tests call it: server, recipients and sender written as
// the Windows entry points write them, the outcome kept as plain values.
#include "arguments.h"
#include "bsmtp.h"

#include <string>

namespace kestlin::test {

class Submission
{
public:
    // server "host\tport\ttime-out", to "<a\tb>", from "<me>[\tuser:password\tMETHOD]".
    Submission(const std::string &server, const std::string &to, const std::string &from,
               std::string subject = "件名", std::string body = "本文", std::string files = "")
        : subject_(std::move(subject))
        , body_(std::move(body))
        , files_(std::move(files))
    {
        std::string ignored;
        bsmtp::ParseServer(server, 25, server_, ignored);
        const bsmtp::Recipients recipients = bsmtp::ParseRecipients(to);
        for (const std::string &address : recipients.to)
            to_ += (to_.empty() ? "" : "\t") + address;
        bsmtp::Sender sender;
        bsmtp::ParseSender(from, sender, ignored);
        from_ = sender.address;
        user_ = sender.user;
        password_ = sender.password;
        fields.size = sizeof fields;
        fields.host = server_.host.c_str();
        fields.port = server_.port;
        fields.timeoutSeconds = static_cast<int>(server_.timeoutSeconds);
        fields.from = from_.c_str();
        fields.to = to_.c_str();
        fields.subject = subject_.c_str();
        fields.body = body_.c_str();
        fields.files = files_.c_str();
        fields.signIn = sender.method == "LOGIN"      ? BSMTP_SIGN_IN_LOGIN
                        : sender.method == "CRAM-MD5" ? BSMTP_SIGN_IN_CRAM_MD5
                        : sender.method == "PLAIN"    ? BSMTP_SIGN_IN_PLAIN
                                                      : BSMTP_SIGN_IN_NONE;
        fields.user = user_.c_str();
        fields.password = password_.c_str();
    }

    // POP before SMTP to 127.0.0.1:port with the sender's account.
    void PopFirst(int port, const std::string &user, const std::string &password)
    {
        user_ = user;
        password_ = password;
        fields.user = user_.c_str();
        fields.password = password_.c_str();
        fields.signIn = BSMTP_SIGN_IN_POP_BEFORE_SMTP;
        fields.pop3Port = port;
    }

    // The result text ("" when accepted).
    std::string Run()
    {
        const int ok = BsmtpSubmit(&fields);
        result = fields.result ? fields.result : "(null)";
        BsmtpFree(fields.result);
        fields.result = nullptr;
        accepted = ok != 0;
        return result;
    }

    BsmtpSubmission fields {};
    bool accepted = false;
    std::string result;

private:
    bsmtp::Server server_;
    std::string to_, from_, user_, password_, subject_, body_, files_;
};

} // namespace kestlin::test
