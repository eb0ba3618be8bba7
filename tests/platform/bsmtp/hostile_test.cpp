// libbsmtp.so against scripted servers that misbehave. Whatever a server
// does, the mail counts as sent only when the server accepted it after its
// last byte; a server that stops sending is given up one time-out after its
// last byte; a server that answers every wait within the time-out is served,
// however long it takes in all. Each scenario prints its time and its bound.
#include "MailServers.h"
#include "bsmtp.h"
#include "submission.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using kestlin::test::ScriptedServer;
using kestlin::test::Step;
using Clock = std::chrono::steady_clock;
using Script = std::vector<Step>;

// A command read, and its reply after delay milliseconds.
Script Reply(const std::string &text, int delay = 0)
{
    return { Step::Read, { Step::Pause, {}, delay }, { Step::Send, text + "\r\n" } };
}
Script operator+(Script a, const Script &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const char kGreeting[] = "220 hostile.test ESMTP\r\n";
const Script kGreet = { { Step::Send, kGreeting } };
const Script kEnvelope = Reply("250 hostile.test") + Reply("250 ok") + Reply("250 ok");
const Script kStartTls = kGreet + Reply("250-hostile.test\r\n250 STARTTLS");
const int kTimeout = 1; // seconds
const char kBroken[] = "SMTPサーバーの応答が正しくありません。";
const char kSilent[] = "SMTPサーバーから応答がありません。";
const char kClosed[] = "SMTPサーバーとの接続が切れました。";

struct Scenario
{
    const char *name;
    bool pop3;
    Script script;
    const char *lead; // how the reason starts; empty: the mail goes
    // The whole message went and no sensible reply came: the server may hold it.
    bool mayHoldIt = false;
    const char *method = ""; // a sign-in method of the sender, if any
};

Script JustInside(int delay)
{
    return Script { { Step::Pause, {}, delay }, { Step::Send, kGreeting } }
           + Reply("250 hostile.test", delay) + Reply("250 ok", delay) + Reply("250 ok", delay)
           + Reply("354 go on", delay)
           + Script { { Step::ReadData },
                      { Step::Pause, {}, delay },
                      { Step::Send, "250 queued\r\n" } }
           + Reply("221 bye", delay);
}

const Scenario kScenarios[] = {
    // Served, however long in all: every wait ends within the time-out.
    { "AnswersEveryWaitJustInside", false, JustInside(700), "" },
    { "DripsEachReplyWithinTheWait", false,
      Script { { Step::Drip, "220 drip\r\n", 60 } } + kEnvelope + Reply("354 go on")
          + Script { { Step::ReadData }, { Step::Drip, "250 ok\r\n", 60 } },
      "" },
    // Replies ahead of their commands; a false STARTTLS.
    { "RepliesAheadOfCommands", false,
      Script {
          { Step::Send,
            kGreeting + std::string("250 a\r\n250 b\r\n250 c\r\n250 d\r\n354 e\r\n250 f\r\n") } },
      kBroken },
    { "AcceptsBeforeTheMessageAndCloses", false,
      kGreet + kEnvelope
          + Script { { Step::Read },
                     { Step::Send, "354 go on\r\n250 queued\r\n" },
                     { Step::Close } },
      kBroken },
    { "RepliesInjectedAfterStartTls", false, kStartTls + Reply("220 go ahead\r\n250 injected"),
      kBroken },
    { "StartTlsAnsweredInPlainText", false,
      kStartTls + Reply("220 go ahead")
          + Script { { Step::Pause, {}, 100 }, { Step::Send, kGreeting } },
      "SMTPサーバーと暗号化通信ができません。" },
    // Malformed, truncated, too long, endless, slow.
    { "MalformedReply", false, kGreet + Reply("25O hostile.test"), kBroken },
    { "TruncatedReplyThenClose", false, Script { { Step::Send, "22" }, { Step::Close } }, kClosed },
    { "TruncatedReplyThenSilence", false, Script { { Step::Send, "220 hostile.test" } }, kSilent },
    { "MegabyteLine", false, Script { { Step::Send, "220 " + std::string(1 << 20, 'x') + "\r\n" } },
      kBroken },
    { "EndlessLine", false,
      Script { { Step::Send, "220 " }, { Step::Flood, std::string(4096, 'x') } }, kBroken },
    { "EndlessMultilineReply", false,
      Script { { Step::Send, kGreeting }, { Step::Read }, { Step::Flood, "250-more\r\n" } },
      kBroken },
    { "DripsBeyondTheWait", false, Script { { Step::Drip, "220 " + std::string(40, 'x'), 100 } },
      kSilent },
    { "NonsenseAfterTheMessage", false,
      kGreet + kEnvelope + Reply("354 go on")
          + Script { { Step::ReadData }, { Step::Send, "hello\r\n" } },
      kBroken, true },
    { "ClosesDuringTheMessage", false,
      kGreet + kEnvelope + Reply("354 go on") + Script { { Step::Close } }, kClosed },
    // A CRAM-MD5 challenge of nothing gets no digest of the password.
    { "CramMd5WithoutAChallenge", false,
      kGreet + Reply("250-hostile.test\r\n250 AUTH CRAM-MD5") + Reply("334"), kBroken, false,
      "CRAM-MD5" },
    { "CramMd5WithOnlyPadding", false,
      kGreet + Reply("250-hostile.test\r\n250 AUTH CRAM-MD5") + Reply("334 ===="), kBroken, false,
      "CRAM-MD5" },
    // POP3.
    { "Pop3OkayIsNotOk", true,
      Script { { Step::Send, "+OK ready\r\n" } } + Reply("-ERR") + Reply("+OK")
          + Reply("+OKAY welcome"),
      "POP3サーバーにログインできません。+OKAY welcome" },
    { "Pop3AnswersEveryWaitJustInside", true,
      Script { { Step::Pause, {}, 700 }, { Step::Send, "+OK ready\r\n" } }
          + Reply("+OK\r\nUSER\r\n.", 700) + Reply("+OK", 700) + Reply("+OK", 700)
          + Reply("+OK 1 120", 700) + Reply("+OK", 700),
      "" },
    { "Pop3RepliesAheadOfCommands", true,
      Script { { Step::Send, "+OK ready\r\n+OK\r\n+OK\r\n+OK 1 9\r\n" } },
      "POP3サーバーの応答が正しくありません。" },
};

void PrintTo(const Scenario &scenario, std::ostream *out)
{
    *out << scenario.name;
}

class Hostile : public ::testing::TestWithParam<Scenario>
{
};

TEST_P(Hostile, NoSuccessWithoutAcceptanceAndNoWaitBeyondTheTimeOut)
{
    const Scenario &scenario = GetParam();
    ScriptedServer server(scenario.script);
    const std::string address
        = "127.0.0.1\t" + std::to_string(server.port()) + "\t" + std::to_string(kTimeout);
    const auto start = Clock::now();
    std::string reason;
    bool sent = false;
    int delivery = BSMTP_NOT_SENT;
    if (scenario.pop3) {
        char *text = nullptr;
        sent = RcvMail(address.c_str(), "user", "password", "STAT", "/tmp", &text) == 1;
        reason = text ? text : "(null)";
        BsmtpFree(text);
    } else {
        const std::string from = std::string("<me@kestlin.test>")
                                 + (*scenario.method ? "\tuser:password\t" : "") + scenario.method;
        kestlin::test::Submission submission(address, "<a@kestlin.test>", from, "件名",
                                             "U01,me@kestlin.test\r\n\r\n\r\n");
        reason = submission.Run();
        sent = submission.accepted;
        delivery = submission.fields.delivery;
    }
    const auto end = Clock::now();

    const auto bound = server.LastByte() + std::chrono::seconds(kTimeout + 1);
    const auto seconds
        = [&](Clock::time_point t) { return std::chrono::duration<double>(t - start).count(); };
    std::printf("[ hostile  ] %-34s %6.2f s, bound %6.2f s\n", scenario.name, seconds(end),
                seconds(bound));
    EXPECT_LE(end, bound);
    // The scripts that serve answer the message only after its last line.
    if (scenario.mayHoldIt) {
        EXPECT_EQ(delivery, BSMTP_UNKNOWN) << reason;
    }
    if (!*scenario.lead) {
        EXPECT_TRUE(sent) << reason;
    } else {
        EXPECT_FALSE(sent);
        EXPECT_EQ(reason.rfind(scenario.lead, 0), 0u) << reason;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, Hostile, ::testing::ValuesIn(kScenarios),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
