// libbsmtp.so against real servers: aiosmtpd for SMTP, dovecot for POP3.
#include "MailServers.h"
#include "bsmtp.h"
#include "submission.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using kestlin::test::ParsedMail;
using kestlin::test::ParseWithPython;
using kestlin::test::Pop3Options;
using kestlin::test::Pop3Server;
using kestlin::test::SmtpOptions;
using kestlin::test::SmtpServer;
using kestlin::test::TempDir;

const char kSubject[] = "【石油動態報告】";

std::string Call(const std::string &server, const std::string &to, const std::string &from,
                 const std::string &subject, const std::string &body, const std::string &files)
{
    char *result = SendMail(server.c_str(), to.c_str(), from.c_str(), subject.c_str(), body.c_str(),
                            files.c_str());
    EXPECT_NE(result, nullptr);
    std::string text = result ? result : "(null)";
    BsmtpFree(result);
    return text;
}

std::string ServerString(int port, int timeout = 5)
{
    return "127.0.0.1\t" + std::to_string(port) + "\t" + std::to_string(timeout);
}

std::string Sender(const std::string &method, const std::string &password = "password")
{
    return method.empty() ? "<me@kestlin.test>"
                          : "<me@kestlin.test>\tuser:" + password + "\t" + method;
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char &b : bytes)
        b = static_cast<char>(generator());
    return bytes;
}

class Smtp : public ::testing::Test
{
protected:
    void Start(const SmtpOptions &options = {})
    {
        std::string reason;
        ASSERT_TRUE(server_.Start(options, reason)) << reason;
    }
    std::string Send(const std::string &from, const std::string &to = "<rcpt@kestlin.test>",
                     const std::string &files = "", int timeout = 5)
    {
        return Call(ServerString(server_.port(), timeout), to, from, kSubject, "本文", files);
    }

    SmtpServer server_;
    TempDir dir_;
};

std::string MethodName(const ::testing::TestParamInfo<std::string> &info)
{
    return info.param.empty() ? "None" : info.param == "CRAM-MD5" ? "CramMd5" : info.param;
}

class SignIn : public Smtp, public ::testing::WithParamInterface<std::string>
{
};
class SignInRefused : public SignIn
{
};

TEST_P(SignIn, AcceptedWithExactlyThatMechanism)
{
    Start();
    ASSERT_EQ(Send(Sender(GetParam())), "");
    ASSERT_TRUE(server_.WaitForMessages(1));
    const auto mail = server_.Received().at(0);
    EXPECT_EQ(mail.authenticated, !GetParam().empty());
    EXPECT_EQ(mail.mechanism, GetParam());
    if (!GetParam().empty()) {
        EXPECT_EQ(mail.login, "user");
    }
}

TEST_P(SignInRefused, WrongPasswordIsRefusedWithTheServersReply)
{
    Start();
    const std::string reason = Send(Sender(GetParam(), "wrong"));
    EXPECT_EQ(reason.rfind("SMTP認証に失敗しました。535 5.7.8", 0), 0u) << reason;
    EXPECT_EQ(server_.MailCommands(), 0);
    EXPECT_EQ(server_.Dialogue().back(), "QUIT");
}

TEST_P(SignInRefused, MechanismNotOfferedSendsNothing)
{
    SmtpOptions options;
    options.mechanisms.clear();
    for (const char *m : { "LOGIN", "PLAIN", "CRAM-MD5" }) {
        if (GetParam() != m)
            options.mechanisms.push_back(m);
    }
    Start(options);
    const std::string reason = Send(Sender(GetParam()));
    EXPECT_NE(reason.find(GetParam() + " に対応していません"), std::string::npos) << reason;
    EXPECT_EQ(server_.MailCommands(), 0);
}

TEST_P(SignInRefused, NoAuthOfferedSendsNothing)
{
    SmtpOptions options;
    options.mechanisms.clear();
    Start(options);
    const std::string reason = Send(Sender(GetParam()));
    EXPECT_NE(reason.find("SMTP認証(AUTH)に対応していません"), std::string::npos) << reason;
    EXPECT_EQ(server_.MailCommands(), 0);
}

INSTANTIATE_TEST_SUITE_P(Methods, SignIn, ::testing::Values("", "LOGIN", "CRAM-MD5", "PLAIN"),
                         MethodName);
INSTANTIATE_TEST_SUITE_P(Methods, SignInRefused, ::testing::Values("LOGIN", "CRAM-MD5", "PLAIN"),
                         MethodName);

TEST_F(Smtp, MessageReadsBackThroughAMimeParser)
{
    Start();
    // Attachment sizes around the 57-byte base64 line; the 64 KiB file ends
    // inside a read block.
    std::string files;
    std::vector<std::string> contents;
    for (size_t size : { size_t(0), size_t(1), size_t(57), size_t(58), size_t(65536 * 3 + 7) }) {
        contents.push_back(RandomBytes(size, static_cast<unsigned>(size)));
        const std::string path = dir_ / ("TMP" + std::to_string(size) + ".txt");
        kestlin::test::WriteFile(path, contents.back());
        files += (files.empty() ? "" : "\t") + path + "|TMP" + std::to_string(size)
                 + ".txt|application/octet-stream";
    }
    const std::string body = "報告ID:1234\r\n.先頭の点\r\n\r\n末尾";
    ASSERT_EQ(Call(ServerString(server_.port()), "<a@kestlin.test\tb@kestlin.test>",
                   Sender("PLAIN"), kSubject, body, files),
              "");
    ASSERT_TRUE(server_.WaitForMessages(1));
    const ParsedMail mail = ParseWithPython(server_.Received().at(0).path);
    ASSERT_TRUE(mail.ok) << mail.error;

    EXPECT_EQ(mail.Get("header:Subject"), kSubject);
    EXPECT_EQ(mail.Get("raw_subject").rfind("=?ISO-2022-JP?B?", 0), 0u);
    EXPECT_EQ(mail.Get("header:From"), "me@kestlin.test");
    EXPECT_EQ(mail.Get("header:To"), "a@kestlin.test, b@kestlin.test");
    EXPECT_EQ(mail.Get("header:MIME-Version"), "1.0");
    EXPECT_NE(mail.Get("header:Message-ID").find("@kestlin.test>"), std::string::npos);
    EXPECT_FALSE(mail.Get("header:Date").empty());
    EXPECT_EQ(mail.Get("content_type"), "multipart/mixed");
    for (const std::string &defects : mail.All("defects"))
        EXPECT_EQ(defects, "0");

    EXPECT_EQ(mail.Get("body_charset"), "iso-2022-jp");
    EXPECT_EQ(mail.Get("body_encoding"), "7bit");
    EXPECT_EQ(mail.Get("body"), body);

    EXPECT_EQ(mail.All("attachment_bytes"), contents);
    EXPECT_EQ(mail.Get("attachment_name"), "TMP0.txt");
    EXPECT_EQ(mail.Get("attachment_type"), "application/octet-stream");
    EXPECT_EQ(mail.Get("attachment_encoding"), "base64");
}

// The line end before a boundary is the boundary's: a body that ends in
// line ends keeps every one of them, and the attachment stays as it was.
TEST_F(Smtp, BodyReadsBackWithEveryLineEnd)
{
    Start();
    const std::string path = dir_ / "TMP1.txt";
    const std::string content = RandomBytes(100, 9);
    kestlin::test::WriteFile(path, content);
    const std::vector<std::string> bodies { "U01,me@kestlin.test\r\n\r\n\r\n", "b", "",
                                            "株式会社髙橋\r\n\r\n" };
    for (const std::string &body : bodies)
        ASSERT_EQ(Call(ServerString(server_.port()), "<a@kestlin.test>", Sender(""), kSubject, body,
                       path + "|TMP1.txt|application/octet-stream"),
                  "");
    ASSERT_TRUE(server_.WaitForMessages(bodies.size()));
    for (size_t i = 0; i < bodies.size(); ++i) {
        const ParsedMail mail = ParseWithPython(server_.Received().at(i).path);
        ASSERT_TRUE(mail.ok) << mail.error;
        EXPECT_EQ(mail.Get("body"), bodies[i]);
        EXPECT_EQ(mail.Get("attachment_bytes"), content);
    }
}

TEST_F(Smtp, CharactersOutsideIsoTwentyTwoJpFallBackToUtf8)
{
    Start();
    std::string subject = "①㈱髙～ ";
    for (int i = 0; i < 8; ++i)
        subject += kSubject;
    const std::string body = "株式会社髙橋①～ｴﾗｰ";
    const std::string name = "報告①.bin";
    const std::string path = dir_ / name;
    kestlin::test::WriteFile(path, "data");
    ASSERT_EQ(Call(ServerString(server_.port()), "<a@kestlin.test>", Sender(""), subject, body,
                   path + "|" + name + "|application/octet-stream"),
              "");
    ASSERT_TRUE(server_.WaitForMessages(1));
    const auto received = server_.Received().at(0);
    const ParsedMail mail = ParseWithPython(received.path);
    ASSERT_TRUE(mail.ok) << mail.error;
    EXPECT_EQ(mail.Get("header:Subject"), subject);
    EXPECT_EQ(mail.Get("body_charset"), "utf-8");
    EXPECT_EQ(mail.Get("body"), body);
    EXPECT_EQ(mail.Get("attachment_name"), name);
    EXPECT_EQ(mail.Get("attachment_bytes"), "data");
    // Headers stay 7-bit and within their line length.
    for (unsigned char c : received.raw.substr(0, received.raw.find("\r\n\r\n")))
        ASSERT_LT(c, 0x80);
}

// However long the name, every line stays short enough that no server folds
// it, and readers of RFC 2231 and of encoded words both get it exactly.
TEST_F(Smtp, LongAttachmentNamesSurviveInShortLines)
{
    Start();
    std::string japanese;
    for (int i = 0; i < 24; ++i)
        japanese += "石油動態報告";
    japanese += "1%.csv"; // 150 characters
    const std::vector<std::string> names { "TMP0.txt", std::string(196, 'a') + ".txt", japanese };
    std::string files;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string path = dir_ / ("f" + std::to_string(i));
        kestlin::test::WriteFile(path, "data");
        files += (i ? "\t" : "") + path + "|" + names[i] + "|application/octet-stream";
    }
    ASSERT_EQ(Send(Sender(""), "<rcpt@kestlin.test>", files), "");
    ASSERT_TRUE(server_.WaitForMessages(1));
    const auto received = server_.Received().at(0);
    const ParsedMail mail = ParseWithPython(received.path);
    ASSERT_TRUE(mail.ok) << mail.error;
    EXPECT_EQ(mail.All("attachment_name"), names);
    EXPECT_EQ(mail.All("attachment_type_name"), names);
    for (const std::string &defects : mail.All("defects"))
        EXPECT_EQ(defects, "0");
    size_t start = 0;
    for (size_t end; (end = received.raw.find("\r\n", start)) != std::string::npos; start = end + 2)
        ASSERT_LE(end - start, 78u) << received.raw.substr(start, end - start);
    // A short plain name stays as simple as ever.
    EXPECT_NE(received.raw.find("Content-Type: application/octet-stream; name=\"TMP0.txt\"\r\n"
                                "Content-Transfer-Encoding: base64\r\n"
                                "Content-Disposition: attachment; filename=\"TMP0.txt\"\r\n"),
              std::string::npos);
}

// Over an announced limit nothing goes, not even MAIL FROM; over a limit the
// server only checks at MAIL FROM, the declared size is refused there. The
// session ends with QUIT either way, and the greeting names the machine so
// that strict servers take it.
TEST_F(Smtp, SizeOverTheLimitIsRefusedBeforeAnyData)
{
    const std::string small = dir_ / "small", large = dir_ / "large";
    kestlin::test::WriteFile(small, RandomBytes(1000, 1));
    kestlin::test::WriteFile(large, RandomBytes(3 << 20, 2));
    for (const auto offer : { SmtpOptions::SizeOffer::Limit, SmtpOptions::SizeOffer::Bare }) {
        SmtpServer server;
        SmtpOptions options;
        options.sizeLimit = 2 << 20;
        options.sizeOffer = offer;
        std::string reason;
        ASSERT_TRUE(server.Start(options, reason)) << reason;
        const auto send = [&](const std::string &path) {
            return Call(ServerString(server.port()), "<rcpt@kestlin.test>", Sender(""), kSubject,
                        "本文", path + "|TMP1.txt|application/octet-stream");
        };
        // Declared exactly as the server stores it.
        ASSERT_EQ(send(small), "");
        ASSERT_TRUE(server.WaitForMessages(1));
        EXPECT_EQ(server.Dialogue().at(1),
                  "MAIL FROM:<me@kestlin.test> SIZE="
                      + std::to_string(server.Received().at(0).raw.size()));

        reason = send(large);
        const std::vector<std::string> dialogue = server.Dialogue();
        const std::vector<std::string> last(dialogue.begin() + 4, dialogue.end());
        if (offer == SmtpOptions::SizeOffer::Limit) {
            EXPECT_EQ(reason.rfind("メールが大きすぎるため送信しませんでした。", 0), 0u) << reason;
            EXPECT_NE(reason.find(" 2.0 MB までです。"), std::string::npos) << reason;
            EXPECT_NE(reason.find("分けて送信"), std::string::npos) << reason;
            EXPECT_EQ(last.size(), 2u); // EHLO, QUIT
        } else {
            EXPECT_EQ(reason.rfind("SMTPサーバーが送信を拒否しました。552", 0), 0u) << reason;
            ASSERT_EQ(last.size(), 3u); // EHLO, MAIL, QUIT
            EXPECT_EQ(last[1].rfind("MAIL FROM:<me@kestlin.test> SIZE=", 0), 0u);
        }
        EXPECT_EQ(last.back(), "QUIT");
        for (const std::string &line : dialogue) {
            if (line.rfind("EHLO ", 0) != 0)
                continue;
            const std::string name = line.substr(5);
            EXPECT_TRUE(name.find('.') != std::string::npos
                        || (name.front() == '[' && name.back() == ']'))
                << name;
        }
    }
}

TEST_F(Smtp, CopiesAndBlindCopiesGoToTheirEnvelopeRecipients)
{
    Start();
    ASSERT_EQ(Send(Sender(""), "<a@kestlin.test\tb@kestlin.test\tcc\tc@kestlin.test\tbcc\t"
                               "hidden.copy@kestlin.test\t>"),
              "");
    ASSERT_TRUE(server_.WaitForMessages(1));
    const auto received = server_.Received().at(0);
    EXPECT_EQ(received.mailFrom, "me@kestlin.test");
    EXPECT_EQ(received.rcptTos,
              (std::vector<std::string> { "a@kestlin.test", "b@kestlin.test", "c@kestlin.test",
                                          "hidden.copy@kestlin.test" }));
    const ParsedMail mail = ParseWithPython(received.path);
    EXPECT_EQ(mail.Get("header:Cc"), "c@kestlin.test");
    EXPECT_TRUE(mail.Get("header:Bcc").empty());
    EXPECT_EQ(received.raw.find("hidden.copy@kestlin.test"), std::string::npos);
}

TEST_F(Smtp, RefusesWithoutRecipientsOrReadableAttachment)
{
    Start();
    EXPECT_EQ(Send(Sender(""), "<>"), "宛先が指定されていません。");
    const std::string missing = dir_ / "gone.txt";
    const std::string reason = Send(Sender("LOGIN"), "<a@kestlin.test>", missing + "|gone.txt|x/y");
    EXPECT_NE(reason.find(missing), std::string::npos) << reason;
    EXPECT_EQ(server_.MailCommands(), 0);
}

TEST_F(Smtp, RecipientRefusedByTheServerIsAFailure)
{
    Start();
    const std::string reason = Send(Sender(""), "<a@kestlin.test\tno@refused.test>");
    EXPECT_EQ(reason, "SMTPサーバーが送信を拒否しました。550 5.1.1 <no@refused.test>: Recipient "
                      "address rejected");
    EXPECT_TRUE(server_.Received().empty());
}

TEST_F(Smtp, CertificateThatCannotBeVerifiedIsAFailure)
{
    SmtpOptions options;
    options.startTls = true;
    Start(options);
    const std::string reason = Send(Sender("PLAIN"));
    EXPECT_EQ(reason.rfind("SMTPサーバーと暗号化通信ができません。127.0.0.1 のポート", 0), 0u)
        << reason;
    EXPECT_NE(reason.find("認証局の証明書をシステムの証明書ストアに追加"), std::string::npos);
    EXPECT_EQ(server_.MailCommands(), 0);
}

// Runs send in a child process whose trust store also holds the server's
// certificate authority: a mount namespace of its own, so root only.
std::string TrustingServersCa(const SmtpServer &server, const std::function<std::string()> &send)
{
    const std::string store = "/etc/ssl/certs/ca-certificates.crt";
    const std::string bundle = server.folder() + "/bundle.crt", result = bundle + ".result";
    kestlin::test::WriteFile(bundle, kestlin::test::ReadFile(store)
                                         + kestlin::test::ReadFile(server.folder() + "/ca.pem"));
    const pid_t child = ::geteuid() == 0 ? ::fork() : -1;
    if (child == 0) {
        const bool trusting
            = ::unshare(CLONE_NEWNS) == 0
              && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
              && ::mount(bundle.c_str(), store.c_str(), nullptr, MS_BIND, nullptr) == 0;
        kestlin::test::WriteFile(result, trusting ? send() : "skip");
        ::_exit(0);
    }
    if (child < 0 || ::waitpid(child, nullptr, 0) != child)
        return "skip";
    return kestlin::test::ReadFile(result);
}

TEST_F(Smtp, TrustedCertificateCarriesTheMailAfterStartTls)
{
    SmtpOptions options;
    options.startTls = true;
    Start(options);
    // Also where servers are remembered, with nobody to ask: no question is
    // needed for a certificate that the system trusts.
    const std::string known = dir_ / "known-servers.txt";
    const std::string reason = TrustingServersCa(server_, [&] {
        kestlin::test::Submission trusting(ServerString(server_.port()), "<rcpt@kestlin.test>",
                                           Sender("PLAIN"), kSubject, "", "");
        trusting.fields.knownServers = known.c_str();
        const std::string second = trusting.Run();
        return Send(Sender("PLAIN")) + "|" + second;
    });
    if (reason == "skip")
        GTEST_SKIP() << "needs root for a trust store of its own";
    ASSERT_EQ(reason, "|");
    ASSERT_TRUE(server_.WaitForMessages(2));
    EXPECT_TRUE(server_.Received().at(0).tls);
    EXPECT_EQ(server_.Received().at(0).mechanism, "PLAIN");
    EXPECT_EQ(kestlin::test::ReadFile(known).find(":" + std::to_string(server_.port()) + " sha256"),
              std::string::npos);
}

// A key the system's security level refuses, under an authority the system
// trusts: refused as curl refuses it, and nobody is asked about it.
TEST_F(Smtp, WeakKeyUnderATrustedAuthorityIsRefused)
{
    SmtpOptions options;
    options.startTls = true;
    options.weakKey = true;
    Start(options);
    const std::string known = dir_ / "known-servers.txt";
    const std::string reason = TrustingServersCa(server_, [&] {
        int asked = 0;
        kestlin::test::Submission trusting(ServerString(server_.port()), "<rcpt@kestlin.test>",
                                           Sender("PLAIN"), kSubject, "", "");
        trusting.fields.knownServers = known.c_str();
        trusting.fields.trust = [](void *count, const BsmtpCertificate *) {
            ++*static_cast<int *>(count);
            return 1;
        };
        trusting.fields.trustContext = &asked;
        const std::string text = trusting.Run();
        return text + "|" + std::to_string(asked) + "|" + Send(Sender("PLAIN"));
    });
    if (reason == "skip")
        GTEST_SKIP() << "needs root for a trust store of its own";
    EXPECT_NE(reason.find("EE certificate key too weak"), std::string::npos) << reason;
    EXPECT_NE(reason.find("|0|SMTPサーバーと暗号化通信ができません。"), std::string::npos)
        << reason;
    EXPECT_EQ(server_.MailCommands(), 0);
}

TEST_F(Smtp, Port465SpeaksTlsFromTheStart)
{
    std::string why;
    if (!kestlin::test::PortCanBeBound(465, why))
        GTEST_SKIP() << why;
    SmtpOptions options;
    options.implicitTls = true;
    options.port = 465;
    Start(options);
    // The certificate is self-signed: getting as far as checking it shows
    // that TLS came first.
    const std::string reason = Send(Sender(""));
    EXPECT_EQ(reason.rfind("SMTPサーバーと暗号化通信ができません。", 0), 0u) << reason;
    EXPECT_EQ(server_.MailCommands(), 0);
}

TEST(ServerDown, NothingListensOnThePort)
{
    const int port = kestlin::test::FreePort();
    const std::string reason
        = Call(ServerString(port), "<a@kestlin.test>", Sender(""), kSubject, "", "");
    EXPECT_EQ(reason,
              "SMTPサーバーに接続できません。127.0.0.1 のポート " + std::to_string(port)
                  + " への接続が拒否されました。サーバー名とポート番号を確かめてください。");
    const std::string unknown
        = Call("nohost.invalid\t587\t5", "<a@kestlin.test>", Sender(""), kSubject, "", "");
    EXPECT_EQ(unknown.rfind("SMTPサーバーに接続できません。サーバー名 nohost.invalid "
                            "が見つかりません(ポート 587)。",
                            0),
              0u)
        << unknown;

    char *answer = nullptr;
    EXPECT_EQ(RcvMail(ServerString(port).c_str(), "user", "password", "STAT", "/tmp", &answer), 0);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(std::string(answer).rfind("POP3サーバーに接続できません。", 0), 0u) << answer;
    BsmtpFree(answer);
}

// The time-out bounds each wait, not the whole transfer: a report that takes
// several times the time-out on a slow line still goes through.
TEST_F(Smtp, SlowLineTakesLongerThanTheTimeOut)
{
    SmtpOptions options;
    options.throttleBytesPerSecond = 1 << 20;
    Start(options);
    const std::string path = dir_ / "report.bin";
    const std::string content = RandomBytes(3 << 20, 7);
    kestlin::test::WriteFile(path, content);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Send(Sender("LOGIN"), "<a@kestlin.test>", path, 3), "");
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_GE(seconds.count(), 4); // 4.1 MiB at 1 MiB/s
    ASSERT_TRUE(server_.WaitForMessages(1));
    EXPECT_EQ(ParseWithPython(server_.Received().at(0).path).Get("attachment_bytes"), content);
}

class Stall : public Smtp, public ::testing::WithParamInterface<SmtpOptions::Stall>
{
};

// Each wait for the server ends after the time-out (1 s here), whether it
// keeps quiet before the greeting, stops reading the message or never
// confirms it; only in the last case may the server hold the message.
TEST_P(Stall, ServerThatStopsAnsweringTimesOut)
{
    SmtpOptions options;
    options.stall = GetParam();
    Start(options);
    // Large enough to fill the socket buffers when the server stops reading.
    const std::string path = dir_ / "big.bin";
    kestlin::test::WriteFile(path, RandomBytes(24 << 20, 1));
    const auto start = std::chrono::steady_clock::now();
    kestlin::test::Submission submission(ServerString(server_.port(), 1), "<a@kestlin.test>",
                                         Sender(""), kSubject, "本文", path);
    const std::string reason = submission.Run();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_EQ(reason.rfind("SMTPサーバーから応答がありません。127.0.0.1 のポート", 0), 0u)
        << reason;
    EXPECT_EQ(submission.fields.delivery,
              GetParam() == SmtpOptions::Stall::EndOfData ? BSMTP_UNKNOWN : BSMTP_NOT_SENT);
    EXPECT_NE(reason.find(" 1 秒"), std::string::npos) << reason;
    // Far below the default time-out of 120 s, which is what a lost setting
    // would show; the upload itself may take seconds on a loaded machine.
    EXPECT_LT(seconds.count(), 60);
    EXPECT_TRUE(server_.Received().empty());
}

INSTANTIATE_TEST_SUITE_P(Points, Stall,
                         ::testing::Values(SmtpOptions::Stall::Greeting, SmtpOptions::Stall::Data,
                                           SmtpOptions::Stall::EndOfData),
                         [](const auto &info) {
                             switch (info.param) {
                             case SmtpOptions::Stall::Greeting:
                                 return std::string("Greeting");
                             case SmtpOptions::Stall::Data:
                                 return std::string("Data");
                             default:
                                 return std::string("EndOfData");
                             }
                         });

using Calls = std::vector<std::pair<int64_t, int64_t>>;

void Record(void *context, int64_t sent, int64_t total)
{
    static_cast<Calls *>(context)->emplace_back(sent, total);
}

std::string CallWithProgress(const std::string &server, const std::string &to,
                             const std::string &files, const std::string &body, Calls *calls)
{
    kestlin::test::Submission submission(server, to, Sender("LOGIN"), kSubject, body, files);
    submission.fields.progress = calls ? &Record : nullptr;
    submission.fields.progressContext = calls;
    return submission.Run();
}

// The reports start at 0, rise, stay few, and end at exactly the size of the
// message that the server stored; a body line that starts with a dot (which
// goes doubled on the wire) does not upset the count.
TEST_F(Smtp, ProgressEndsAtTheSizeOfTheStoredMessage)
{
    Start();
    const std::string big = dir_ / "report.bin";
    kestlin::test::WriteFile(big, RandomBytes((3 << 20) + 5, 3));
    const std::string small = dir_ / "small.bin";
    kestlin::test::WriteFile(small, RandomBytes(58, 4));
    Calls calls;
    ASSERT_EQ(CallWithProgress(ServerString(server_.port()), "<a@kestlin.test>", big + "\t" + small,
                               "報告\r\n.点で始まる行\r\n", &calls),
              "");
    ASSERT_TRUE(server_.WaitForMessages(1));
    const int64_t stored = static_cast<int64_t>(server_.Received().at(0).raw.size());

    ASSERT_GE(calls.size(), 3u) << "a 4 MiB message reports on the way";
    EXPECT_LE(calls.size(), 101u);
    EXPECT_EQ(calls.front(), std::make_pair(int64_t(0), stored));
    EXPECT_EQ(calls.back(), std::make_pair(stored, stored));
    for (size_t i = 1; i + 1 < calls.size(); ++i) {
        EXPECT_GT(calls[i].first, calls[i - 1].first);
        EXPECT_LT(calls[i].first, stored);
        EXPECT_EQ(calls[i].second, stored);
    }

    // Without a receiver it sends all the same (a body of one character too).
    EXPECT_EQ(
        CallWithProgress(ServerString(server_.port()), "<a@kestlin.test>", small, "b", nullptr),
        "");
    EXPECT_TRUE(server_.WaitForMessages(2));
}

// No report before the server took the envelope, and no final report when
// the server never confirmed the message.
TEST_F(Smtp, ProgressNeverClaimsAMessageTheServerDidNotAccept)
{
    SmtpOptions options;
    options.stall = SmtpOptions::Stall::EndOfData;
    Start(options);
    const std::string path = dir_ / "report.bin";
    kestlin::test::WriteFile(path, RandomBytes(1 << 20, 5));

    Calls refused;
    EXPECT_NE(
        CallWithProgress(ServerString(server_.port()), "<no@refused.test>", path, "", &refused)
            .find("550"),
        std::string::npos);
    EXPECT_TRUE(refused.empty());

    Calls stalled;
    const std::string reason = CallWithProgress(ServerString(server_.port(), 1), "<a@kestlin.test>",
                                                path, "本文", &stalled);
    EXPECT_EQ(reason.rfind("SMTPサーバーから応答がありません。", 0), 0u) << reason;
    ASSERT_FALSE(stalled.empty());
    for (const auto &[sent, total] : stalled)
        EXPECT_LT(sent, total);
}

class Pop3 : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string reason;
        ASSERT_TRUE(server_.Start(Pop3Options {}, reason)) << reason;
    }
    int Receive(const std::string &password, const std::string &command, std::string &answer)
    {
        char *result = nullptr;
        const std::string server = "127.0.0.1\t" + std::to_string(server_.port());
        const int ok = RcvMail(server.c_str(), "user", password.c_str(), command.c_str(),
                               dir_.path().c_str(), &result);
        answer = result ? result : "(null)";
        BsmtpFree(result);
        return ok;
    }

    Pop3Server server_;
    TempDir dir_;
};

TEST_F(Pop3, StatAfterSignIn)
{
    std::string answer;
    EXPECT_EQ(Receive("password", "STAT", answer), 1) << answer;
    EXPECT_EQ(answer, "+OK 0 0");
    EXPECT_NE(server_.Log().find("Login: user=<user>"), std::string::npos) << server_.Log();
}

TEST_F(Pop3, FailedSignInGivesTheServersReason)
{
    std::string answer;
    EXPECT_EQ(Receive("wrong", "STAT", answer), 0);
    EXPECT_EQ(answer.rfind("POP3サーバーにログインできません。-ERR", 0), 0u) << answer;
    EXPECT_EQ(Receive("password", "DELE 1", answer), 0);
    EXPECT_NE(answer.find("DELE 1"), std::string::npos) << answer;
}

} // namespace
