// The C entry points: texts in, a text out, nothing thrown across.
#include "bsmtp.h"

#include "arguments.h"
#include "knownservers.h"
#include "message.h"
#include "pop3.h"
#include "smtp.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace {

char *Copy(const std::string &text)
{
    char *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

std::string Text(const char *text)
{
    return text ? std::string(text) : std::string();
}

std::string Send(const char *server, const char *to, const char *from, const char *subject,
                 const char *body, const char *files, const bsmtp::ProgressPacer::Report &report,
                 const bsmtp::TrustRules *rules)
{
    std::string reason;
    bsmtp::Server target;
    if (!bsmtp::ParseServer(Text(server), 25, target, reason))
        return reason;
    const bsmtp::Recipients recipients = bsmtp::ParseRecipients(Text(to));
    if (recipients.to.empty() && recipients.cc.empty() && recipients.bcc.empty())
        return "宛先が指定されていません。";
    bsmtp::Sender sender;
    std::string fromText = Text(from);
    const bool parsed = bsmtp::ParseSender(fromText, sender, reason);
    bsmtp::Wipe(fromText);
    if (!parsed)
        return reason;
    bsmtp::MessageSource message;
    if (!message.Prepare(sender, recipients, Text(subject), Text(body),
                         bsmtp::ParseAttachments(Text(files)), reason))
        return reason;
    const std::string result = bsmtp::Submit(target, sender, recipients, message, report, rules);
    bsmtp::Wipe(sender.password);
    return result;
}

// The rules of the ...WithTrust entry points; nothing without a file.
std::optional<bsmtp::TrustRules> Rules(const char *knownServers, BsmtpTrust trust, void *context)
{
    if (!knownServers)
        return std::nullopt;
    bsmtp::TrustRules rules;
    rules.knownServers = knownServers;
    if (!trust)
        return rules;
    rules.ask = [trust, context](const std::string &server, const bsmtp::Certificate &certificate) {
        const std::string line = server + " " + certificate.pin;
        const BsmtpCertificate shown { server.c_str(),
                                       certificate.subject.c_str(),
                                       certificate.issuer.c_str(),
                                       certificate.validFrom.c_str(),
                                       certificate.validUntil.c_str(),
                                       certificate.fingerprint.c_str(),
                                       certificate.problem.c_str(),
                                       line.c_str(),
                                       BSMTP_ASK_CERTIFICATE };
        return trust(context, &shown) != 0;
    };
    rules.askPlain = [trust, context](const std::string &server, const std::string &explanation) {
        const std::string line = server + " no-tls";
        const BsmtpCertificate shown {
            server.c_str(), "", "", "", "", "", explanation.c_str(), line.c_str(), BSMTP_ASK_PLAIN
        };
        return trust(context, &shown) != 0;
    };
    // A retry reads the file again: each notice is told once.
    auto told = std::make_shared<std::set<std::string>>();
    rules.tell = [trust, context, told](const std::string &notice) {
        if (!told->insert(notice).second)
            return;
        const BsmtpCertificate shown { "", "", "", "", "", "", notice.c_str(), "", BSMTP_NOTICE };
        trust(context, &shown);
    };
    return rules;
}

char *SendGuarded(const char *server, const char *to, const char *from, const char *subject,
                  const char *body, const char *files, BsmtpProgress progress, void *context,
                  const std::optional<bsmtp::TrustRules> &rules = std::nullopt)
{
    try {
        bsmtp::ProgressPacer::Report report;
        if (progress) {
            report = [progress, context](int64_t sent, int64_t total) {
                progress(context, sent, total);
            };
        }
        return Copy(
            Send(server, to, from, subject, body, files, report, rules ? &*rules : nullptr));
    } catch (const std::exception &error) {
        return Copy(std::string("メールを送信できません。") + error.what());
    } catch (...) {
        return Copy("メールを送信できません。");
    }
}

bool Receive(const char *server, const char *user, const char *password, const char *command,
             std::string &answer, const bsmtp::TrustRules *rules)
{
    bsmtp::Server target;
    if (!bsmtp::ParseServer(Text(server), 110, target, answer))
        return false;
    std::string word = Text(command);
    for (char &c : word)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (word != "STAT") {
        answer = "対応していないPOP3コマンドです: " + Text(command);
        return false;
    }
    std::string secret = Text(password);
    const bool ok = bsmtp::Pop3Command(target, Text(user), secret, word, answer, rules);
    bsmtp::Wipe(secret);
    return ok;
}

int ReceiveGuarded(const char *server, const char *user, const char *password, const char *command,
                   char **result, const bsmtp::TrustRules *rules)
{
    std::string answer;
    bool ok = false;
    try {
        ok = Receive(server, user, password, command, answer, rules);
    } catch (const std::exception &error) {
        answer = std::string("POP3の処理に失敗しました。") + error.what();
    } catch (...) {
        answer = "POP3の処理に失敗しました。";
    }
    if (result)
        *result = Copy(answer);
    return ok ? 1 : 0;
}

} // namespace

extern "C" char *SendMail(const char *server, const char *to, const char *from, const char *subject,
                          const char *body, const char *files)
{
    return SendGuarded(server, to, from, subject, body, files, nullptr, nullptr);
}

extern "C" char *SendMailWithProgress(const char *server, const char *to, const char *from,
                                      const char *subject, const char *body, const char *files,
                                      BsmtpProgress progress, void *context)
{
    return SendGuarded(server, to, from, subject, body, files, progress, context);
}

extern "C" char *SendMailWithTrust(const char *server, const char *to, const char *from,
                                   const char *subject, const char *body, const char *files,
                                   const char *knownServers, BsmtpProgress progress,
                                   void *progressContext, BsmtpTrust trust, void *trustContext)
{
    return SendGuarded(server, to, from, subject, body, files, progress, progressContext,
                       Rules(knownServers, trust, trustContext));
}

extern "C" int RcvMail(const char *server, const char *user, const char *password,
                       const char *command, const char *, char **result)
{
    return ReceiveGuarded(server, user, password, command, result, nullptr);
}

extern "C" int RcvMailWithTrust(const char *server, const char *user, const char *password,
                                const char *command, const char *, const char *knownServers,
                                BsmtpTrust trust, void *trustContext, char **result)
{
    const std::optional<bsmtp::TrustRules> rules = Rules(knownServers, trust, trustContext);
    return ReceiveGuarded(server, user, password, command, result, rules ? &*rules : nullptr);
}

extern "C" int BsmtpCheckKnownServers(const char *path, char **result)
{
    std::string text;
    bool ok = false;
    try {
        bsmtp::KnownServers known(Text(path));
        ok = known.Load(text);
        for (const std::string &problem : known.problems())
            text += problem + "\n";
        ok = ok && known.problems().empty();
        if (!ok && !text.empty() && text.back() != '\n')
            text += "\n";
    } catch (...) {
        text = "known-servers.txt を確認できません。\n";
    }
    if (result)
        *result = Copy(text);
    return ok ? 1 : 0;
}

extern "C" void BsmtpFree(char *text)
{
    std::free(text);
}
