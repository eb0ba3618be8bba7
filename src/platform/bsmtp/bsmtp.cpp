// The C entry points: texts in, a text out, nothing thrown across.
#include "bsmtp.h"

#include "arguments.h"
#include "knownservers.h"
#include "message.h"
#include "pop3.h"
#include "smtp.h"

#include <cctype>
#include <cstddef>
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

// The rules of a submission with a known-servers file; none without one.
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
    // POP3, SMTP and a retry each read the file: each notice is told once.
    auto told = std::make_shared<std::set<std::string>>();
    rules.tell = [trust, context, told](const std::string &notice) {
        if (!told->insert(notice).second)
            return;
        const BsmtpCertificate shown { "", "", "", "", "", "", notice.c_str(), "", BSMTP_NOTICE };
        trust(context, &shown);
    };
    return rules;
}

const char *MethodWord(int signIn)
{
    switch (signIn) {
    case BSMTP_SIGN_IN_LOGIN:
        return "LOGIN";
    case BSMTP_SIGN_IN_CRAM_MD5:
        return "CRAM-MD5";
    case BSMTP_SIGN_IN_PLAIN:
        return "PLAIN";
    case BSMTP_SIGN_IN_BEARER:
        return bsmtp::kBearer;
    default:
        return "";
    }
}

// Every address of the lists, each in the list it was given in.
bsmtp::Recipients Addresses(const BsmtpSubmission &s)
{
    bsmtp::Recipients recipients;
    const auto add = [](std::vector<std::string> &into, const char *list) {
        const bsmtp::Recipients parsed = bsmtp::ParseRecipients(Text(list));
        for (const auto *part : { &parsed.to, &parsed.cc, &parsed.bcc })
            into.insert(into.end(), part->begin(), part->end());
    };
    add(recipients.to, s.to);
    add(recipients.cc, s.cc);
    add(recipients.bcc, s.bcc);
    return recipients;
}

struct Outcome
{
    std::string reason;
    int delivery = BSMTP_NOT_SENT;
    int failedIn = BSMTP_FAILED_IN_SMTP;
};

bool PopBeforeSmtp(const BsmtpSubmission &s, const bsmtp::TrustRules *rules, Outcome &outcome)
{
    bsmtp::Server pop3;
    if (!bsmtp::ParseHost(Text(s.pop3Host && *s.pop3Host ? s.pop3Host : s.host), pop3.host,
                          outcome.reason)) {
        outcome.failedIn = BSMTP_FAILED_IN_POP3;
        return false;
    }
    pop3.port = s.pop3Port > 0 && s.pop3Port <= 65535 ? s.pop3Port : 110;
    pop3.timeoutSeconds = s.timeoutSeconds > 0 ? s.timeoutSeconds : 120;
    std::string answer, password = Text(s.password);
    const bool ok = bsmtp::Pop3Command(pop3, Text(s.user), password, "STAT", answer, rules);
    bsmtp::Wipe(password);
    if (ok)
        return true;
    outcome.reason = answer;
    outcome.failedIn = BSMTP_FAILED_IN_POP3;
    return false;
}

Outcome Submit(const BsmtpSubmission &s)
{
    Outcome outcome;
    bsmtp::Server target;
    if (!bsmtp::ParseHost(Text(s.host), target.host, outcome.reason))
        return outcome;
    if (s.port < 0 || s.port > 65535) {
        outcome.reason = "ポート番号が正しくありません: " + std::to_string(s.port);
        return outcome;
    }
    target.port = s.port ? s.port : 25;
    target.timeoutSeconds = s.timeoutSeconds > 0 ? s.timeoutSeconds : 120;
    const bsmtp::Recipients recipients = Addresses(s);
    if (recipients.to.empty() && recipients.cc.empty() && recipients.bcc.empty()) {
        outcome.reason = "宛先が指定されていません。";
        return outcome;
    }
    bsmtp::Sender sender;
    sender.address = Text(s.from);
    sender.method = MethodWord(s.signIn);
    if (!sender.method.empty()) {
        sender.user = Text(s.user);
        sender.password = Text(s.password);
        if (sender.user.empty()) {
            outcome.reason = "認証のユーザーIDが指定されていません。";
            return outcome;
        }
    }
    if (sender.address.empty()) {
        outcome.reason = "差出人のアドレスが指定されていません。";
        return outcome;
    }
    bsmtp::MessageSource message;
    if (!message.Prepare(sender, recipients, Text(s.subject), Text(s.body),
                         bsmtp::ParseAttachments(Text(s.files)), outcome.reason))
        return outcome;
    const std::optional<bsmtp::TrustRules> rules = Rules(s.knownServers, s.trust, s.trustContext);
    if (s.signIn == BSMTP_SIGN_IN_POP_BEFORE_SMTP
        && !PopBeforeSmtp(s, rules ? &*rules : nullptr, outcome))
        return outcome;
    bsmtp::ProgressPacer::Report report;
    if (s.progress) {
        report = [progress = s.progress, context = s.progressContext](int64_t sent, int64_t total) {
            progress(context, sent, total);
        };
    }
    bsmtp::Delivery delivery = bsmtp::Delivery::NotSent;
    outcome.reason = bsmtp::Submit(target, sender, recipients, message, report,
                                   rules ? &*rules : nullptr, &delivery);
    bsmtp::Wipe(sender.password);
    outcome.delivery = delivery == bsmtp::Delivery::Accepted  ? BSMTP_ACCEPTED
                       : delivery == bsmtp::Delivery::Unknown ? BSMTP_UNKNOWN
                                                              : BSMTP_NOT_SENT;
    if (delivery == bsmtp::Delivery::Accepted)
        outcome.failedIn = BSMTP_FAILED_NOWHERE;
    return outcome;
}

// The old-style recipient and sender strings, taken apart for BsmtpSubmit.
struct LegacyArguments
{
    bsmtp::Server server;
    std::string to, cc, bcc, from, user, password;
    int signIn = BSMTP_SIGN_IN_NONE;
};

std::string Joined(const std::vector<std::string> &list)
{
    std::string text;
    for (const std::string &entry : list)
        text += (text.empty() ? "" : "\t") + entry;
    return text;
}

bool TakeApart(const char *server, const char *to, const char *from, LegacyArguments &arguments,
               std::string &reason)
{
    if (!bsmtp::ParseServer(Text(server), 25, arguments.server, reason))
        return false;
    const bsmtp::Recipients recipients = bsmtp::ParseRecipients(Text(to));
    arguments.to = Joined(recipients.to);
    arguments.cc = Joined(recipients.cc);
    arguments.bcc = Joined(recipients.bcc);
    bsmtp::Sender sender;
    std::string fromText = Text(from);
    const bool parsed = bsmtp::ParseSender(fromText, sender, reason);
    bsmtp::Wipe(fromText);
    if (!parsed)
        return false;
    arguments.from = sender.address;
    arguments.user = sender.user;
    arguments.password = sender.password;
    bsmtp::Wipe(sender.password);
    arguments.signIn = sender.method == "LOGIN"      ? BSMTP_SIGN_IN_LOGIN
                       : sender.method == "CRAM-MD5" ? BSMTP_SIGN_IN_CRAM_MD5
                       : sender.method == "PLAIN"    ? BSMTP_SIGN_IN_PLAIN
                                                     : BSMTP_SIGN_IN_NONE;
    return true;
}

bool Receive(const char *server, const char *user, const char *password, const char *command,
             std::string &answer)
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
    const bool ok = bsmtp::Pop3Command(target, Text(user), secret, word, answer, nullptr);
    bsmtp::Wipe(secret);
    return ok;
}

} // namespace

extern "C" int BsmtpSubmit(BsmtpSubmission *submission)
{
    if (!submission
        || submission->size < offsetof(BsmtpSubmission, failedIn) + sizeof submission->failedIn)
        return 0;
    // Only what the caller knows of; anything newer stays zero.
    BsmtpSubmission given {};
    std::memcpy(&given, submission, std::min(submission->size, sizeof given));
    Outcome outcome;
    try {
        outcome = Submit(given);
    } catch (const std::exception &error) {
        outcome.reason = std::string("メールを送信できません。") + error.what();
    } catch (...) {
        outcome.reason = "メールを送信できません。";
    }
    submission->result = Copy(outcome.reason);
    submission->delivery = outcome.delivery;
    submission->failedIn = outcome.failedIn;
    return outcome.delivery == BSMTP_ACCEPTED ? 1 : 0;
}

extern "C" char *SendMail(const char *server, const char *to, const char *from, const char *subject,
                          const char *body, const char *files)
{
    LegacyArguments arguments;
    std::string reason;
    try {
        if (!TakeApart(server, to, from, arguments, reason))
            return Copy(reason);
    } catch (const std::exception &error) {
        return Copy(std::string("メールを送信できません。") + error.what());
    } catch (...) {
        return Copy("メールを送信できません。");
    }
    BsmtpSubmission submission {};
    submission.size = sizeof submission;
    submission.host = arguments.server.host.c_str();
    submission.port = arguments.server.port;
    submission.timeoutSeconds = static_cast<int>(arguments.server.timeoutSeconds);
    submission.from = arguments.from.c_str();
    submission.to = arguments.to.c_str();
    submission.cc = arguments.cc.c_str();
    submission.bcc = arguments.bcc.c_str();
    submission.subject = subject;
    submission.body = body;
    submission.files = files;
    submission.signIn = arguments.signIn;
    submission.user = arguments.user.c_str();
    submission.password = arguments.password.c_str();
    BsmtpSubmit(&submission);
    bsmtp::Wipe(arguments.password);
    return submission.result;
}

extern "C" int RcvMail(const char *server, const char *user, const char *password,
                       const char *command, const char *, char **result)
{
    std::string answer;
    bool ok = false;
    try {
        ok = Receive(server, user, password, command, answer);
    } catch (const std::exception &error) {
        answer = std::string("POP3の処理に失敗しました。") + error.what();
    } catch (...) {
        answer = "POP3の処理に失敗しました。";
    }
    if (result)
        *result = Copy(answer);
    return ok ? 1 : 0;
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
