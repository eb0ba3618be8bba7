// Certificates the system does not trust, the known-servers file and servers
// that stop offering TLS, against the real SMTP and POP3 servers.
#include "MailServers.h"
#include "bsmtp.h"
#include "submission.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using kestlin::test::Pop3Options;
using kestlin::test::Pop3Server;
using kestlin::test::ReadFile;
using kestlin::test::SmtpOptions;
using kestlin::test::SmtpServer;
using kestlin::test::TempDir;
using kestlin::test::WriteFile;

struct Question
{
    bool answer = false;
    // Set: the server gives up while the user is asked, as after a long wait.
    int dropPort = 0;
    int asked = 0;
    std::string subject, issuer, fingerprint, problem, line;
};

// Cuts this process's connections to port.
void Drop(int port)
{
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        sockaddr_in peer {};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0
            && peer.sin_family == AF_INET && ntohs(peer.sin_port) == port)
            ::shutdown(fd, SHUT_RDWR);
    }
}

int Answer(void *context, const BsmtpCertificate *certificate)
{
    auto *question = static_cast<Question *>(context);
    ++question->asked;
    if (question->dropPort)
        Drop(question->dropPort);
    question->subject = certificate->subject;
    question->issuer = certificate->issuer;
    question->fingerprint = certificate->fingerprint;
    question->problem = certificate->problem;
    question->line = certificate->line;
    return question->answer ? 1 : 0;
}

// What the openssl command says of the server's certificate.
std::string Openssl(const SmtpServer &server, const std::string &pipeline)
{
    const std::string command = "openssl x509 -in '" + server.folder() + "/cert.pem' " + pipeline;
    FILE *pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    if (pipe)
        ::pclose(pipe);
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return output;
}

class Trust : public ::testing::Test
{
protected:
    void Start(bool startTls, int port = 0, const std::string &name = "127.0.0.1")
    {
        SmtpOptions options;
        options.startTls = startTls;
        options.port = port;
        options.certificateName = name;
        std::string reason;
        ASSERT_TRUE(server_.Start(options, reason)) << reason;
    }
    // Sign-in method "" (none) or "PLAIN"; question nullptr: nobody to ask.
    std::string Send(const std::string &method, Question *question)
    {
        const std::string server = "127.0.0.1\t" + std::to_string(server_.port()) + "\t5";
        const std::string from
            = "<me@kestlin.test>" + (method.empty() ? "" : "\tuser:password\t" + method);
        kestlin::test::Submission submission(server, "<a@kestlin.test>", from);
        submission.fields.knownServers = known_.c_str();
        submission.fields.trust = question ? &Answer : nullptr;
        submission.fields.trustContext = question;
        return submission.Run();
    }
    std::string Key() const { return "127.0.0.1:" + std::to_string(server_.port()); }
    // POP before SMTP alone: "" when the POP3 sign-in went through, else its
    // reason (the SMTP side, on a port where nothing listens, is not asked).
    std::string Pop3(int port, Question *question)
    {
        kestlin::test::Submission submission(
            "127.0.0.1\t" + std::to_string(kestlin::test::FreePort()) + "\t5", "<a@kestlin.test>",
            "<me@kestlin.test>");
        submission.PopFirst(port, "user", "password");
        submission.fields.knownServers = known_.c_str();
        submission.fields.trust = question ? &Answer : nullptr;
        submission.fields.trustContext = question;
        submission.Run();
        return submission.fields.failedIn == BSMTP_FAILED_IN_POP3 ? submission.result : "";
    }

    SmtpServer server_;
    TempDir dir_;
    const std::string known_ = dir_ / "known-servers.txt";
};

TEST_F(Trust, WithoutAPasswordAnyCertificateCarriesTheMailOverTls)
{
    Start(true);
    Question question;
    ASSERT_EQ(Send("", &question), "");
    EXPECT_EQ(question.asked, 0);
    ASSERT_TRUE(server_.WaitForMessages(1));
    EXPECT_TRUE(server_.Received().at(0).tls);
    EXPECT_NE(ReadFile(known_).find(Key() + " starttls\r\n"), std::string::npos);
}

// An old server whose TLS no current client completes still gets a report
// that carries no password, as before there was any TLS; a sign-in does not.
TEST_F(Trust, TlsThatFailsFallsBackToPlainOnlyWithoutAPassword)
{
    SmtpOptions options;
    options.startTls = true;
    options.oldTls = true;
    std::string why;
    ASSERT_TRUE(server_.Start(options, why)) << why;
    ASSERT_EQ(Send("", nullptr), "");
    ASSERT_TRUE(server_.WaitForMessages(1));
    EXPECT_FALSE(server_.Received().at(0).tls);
    const std::string reason = Send("PLAIN", nullptr);
    EXPECT_NE(reason.find("暗号化通信を始められません"), std::string::npos) << reason;
    EXPECT_EQ(server_.MailCommands(), 1);
}

// Refused with the line to add while nobody says yes; the yes stores that
// line below what an administrator wrote, and the stored key then needs no
// question. The key is curl's pin form, as openssl works it out.
TEST_F(Trust, PasswordMethodAsksThenKeepsTheAcceptedKey)
{
    Start(true);
    const std::string administrators = "# 社内サーバー\nmail.example.jp:25 sha256//AAAA\n\n";
    WriteFile(known_, administrators);
    const std::string pin = "sha256//"
                            + Openssl(server_, "-pubkey -noout | openssl pkey -pubin -outform der"
                                               " | openssl dgst -sha256 -binary | base64");

    Question question;
    std::string reason = Send("PLAIN", nullptr);
    EXPECT_NE(reason.find(known_ + " に加えると"), std::string::npos) << reason;
    EXPECT_NE(reason.find("\r\n" + Key() + " " + pin), std::string::npos) << reason;
    reason = Send("PLAIN", &question);
    EXPECT_NE(reason.find(Key() + " " + pin), std::string::npos) << reason;
    EXPECT_EQ(server_.MailCommands(), 0);
    ASSERT_EQ(question.asked, 1);
    EXPECT_EQ(question.line, Key() + " " + pin);
    EXPECT_EQ(question.subject, "CN=127.0.0.1");
    EXPECT_EQ(question.issuer, "CN=Kestlin-Test-CA");
    const std::string fingerprint = Openssl(server_, "-noout -fingerprint -sha256");
    EXPECT_EQ(question.fingerprint, fingerprint.substr(fingerprint.find('=') + 1));
    EXPECT_NE(question.problem.find("信頼する認証局のものではありません"), std::string::npos);
    EXPECT_EQ(question.problem.find("宛てたものではありません"), std::string::npos);

    // The server also leaves while the user is asked: the yes holds for the
    // new connection.
    question.answer = true;
    question.dropPort = server_.port();
    ASSERT_EQ(Send("PLAIN", &question), "");
    EXPECT_EQ(ReadFile(known_), administrators + Key() + " starttls\n" + Key() + " " + pin + "\n");
    ASSERT_EQ(Send("PLAIN", nullptr), "");
    EXPECT_EQ(question.asked, 2);
    ASSERT_TRUE(server_.WaitForMessages(2));
    EXPECT_TRUE(server_.Received().at(1).tls);
}

TEST_F(Trust, CertificateForAnotherNameIsTold)
{
    Start(true, 0, "mail.example.jp");
    Question question;
    EXPECT_NE(Send("PLAIN", &question), "");
    EXPECT_NE(question.problem.find("127.0.0.1 に宛てたものではありません"), std::string::npos)
        << question.problem;
}

TEST_F(Trust, ChangedKeyIsRefusedWithoutAQuestion)
{
    Start(true);
    Question question;
    question.answer = true;
    ASSERT_EQ(Send("PLAIN", &question), "");
    const std::string stored = ReadFile(known_);
    // The same server and port with a new key.
    Start(true, server_.port());
    const std::string reason = Send("PLAIN", &question);
    EXPECT_NE(reason.find("公開鍵が、" + known_ + " に記録されたものと違います"), std::string::npos)
        << reason;
    EXPECT_EQ(question.asked, 1);
    EXPECT_EQ(ReadFile(known_), stored);
    EXPECT_EQ(server_.MailCommands(), 0);
}

// A server never seen with TLS keeps working without it; once it has offered
// STARTTLS, a sign-in without TLS is refused before the password goes, for
// SMTP and for the POP3 of POP before SMTP.
TEST_F(Trust, ServerThatStopsOfferingTlsGetsNoPassword)
{
    Start(false);
    const int port = server_.port();
    ASSERT_EQ(Send("PLAIN", nullptr), "");
    Start(true, port);
    ASSERT_EQ(Send("", nullptr), "");
    Start(false, port);
    const std::string reason = Send("PLAIN", nullptr);
    EXPECT_NE(reason.find(known_ + " から次の行を消してください:\r\n" + Key() + " starttls"),
              std::string::npos)
        << reason;
    EXPECT_EQ(server_.MailCommands(), 0);

    Pop3Server pop3;
    std::string why;
    ASSERT_TRUE(pop3.Start(Pop3Options {}, why)) << why;
    const std::string pop3Key = "127.0.0.1:" + std::to_string(pop3.port());
    WriteFile(known_, pop3Key + " starttls\r\n");
    EXPECT_NE(Pop3(pop3.port(), nullptr).find(pop3Key + " starttls"), std::string::npos);
    EXPECT_EQ(pop3.Log().find("Login: user=<user>"), std::string::npos) << pop3.Log();
}

// POP before SMTP sends the password over POP3: its certificate is asked
// about as for a sign-in, and the yes is kept, also when the server leaves
// while the user is asked.
TEST_F(Trust, Pop3CertificateIsAskedAboutAndKept)
{
    Pop3Options options;
    options.stls = true;
    Pop3Server pop3;
    std::string why;
    ASSERT_TRUE(pop3.Start(options, why)) << why;
    const auto receive = [&](Question *question) { return Pop3(pop3.port(), question); };
    Question question;
    question.answer = true;
    question.dropPort = pop3.port();
    EXPECT_EQ(receive(&question), "");
    EXPECT_EQ(question.asked, 1);
    EXPECT_EQ(receive(nullptr), "");
    EXPECT_NE(ReadFile(known_).find("127.0.0.1:" + std::to_string(pop3.port()) + " sha256//"),
              std::string::npos);
    EXPECT_NE(pop3.Log().find("TLS"), std::string::npos) << pop3.Log();
}

} // namespace
