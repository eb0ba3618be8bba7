// Certificates the system does not trust, the known-servers file and servers
// that stop offering TLS, against the real SMTP and POP3 servers.
#include "MailServers.h"
#include "bsmtp.h"
#include "knownservers.h"
#include "submission.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

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
    int kind = -1;
    std::string subject, issuer, fingerprint, problem, line;
    std::vector<std::string> notices;
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
    if (certificate->kind == BSMTP_NOTICE) {
        question->notices.emplace_back(certificate->problem);
        return 0;
    }
    ++question->asked;
    question->kind = certificate->kind;
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
    EXPECT_EQ(ReadFile(known_), administrators + Key() + " " + pin + "\n" + Key() + " starttls\n");
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

// A server without TLS gets a password in clear only once the user allowed
// it by name; once TLS has worked with it, never again, whatever the file
// also allows, and not even the report without a password. POP3 alike, in
// its own words.
TEST_F(Trust, PasswordInClearOnlyWhereTheUserAllowedIt)
{
    Start(false);
    const int port = server_.port();
    std::string reason = Send("PLAIN", nullptr);
    EXPECT_NE(reason.find(known_ + " に加えると"), std::string::npos) << reason;
    EXPECT_EQ(reason.substr(reason.size() - Key().size() - 11), "\r\n" + Key() + " no-tls\r\n");
    Question question;
    question.answer = true;
    ASSERT_EQ(Send("PLAIN", &question), "");
    EXPECT_EQ(question.kind, BSMTP_ASK_PLAIN);
    EXPECT_EQ(question.line, Key() + " no-tls");
    ASSERT_EQ(Send("PLAIN", &question), "");
    EXPECT_EQ(question.asked, 1);
    EXPECT_NE(ReadFile(known_).find(Key() + " no-tls\r\n"), std::string::npos);

    Start(true, port);
    ASSERT_EQ(Send("", nullptr), "");
    Start(false, port);
    for (const char *method : { "PLAIN", "" }) {
        reason = Send(method, &question);
        EXPECT_NE(reason.find(known_ + " から次の行を消してください:\r\n" + Key() + " starttls"),
                  std::string::npos)
            << reason;
    }
    EXPECT_EQ(question.asked, 1);
    EXPECT_EQ(server_.MailCommands(), 0);

    Pop3Server pop3;
    std::string why;
    ASSERT_TRUE(pop3.Start(Pop3Options {}, why)) << why;
    const std::string pop3Key = "127.0.0.1:" + std::to_string(pop3.port());
    WriteFile(known_, pop3Key + " starttls\r\n" + pop3Key + " no-tls\r\n");
    const std::string refused = Pop3(pop3.port(), nullptr);
    EXPECT_NE(refused.find("(STLS)"), std::string::npos) << refused;
    EXPECT_NE(refused.find(pop3Key + " starttls"), std::string::npos) << refused;
    EXPECT_EQ(pop3.Log().find("Login: user=<user>"), std::string::npos) << pop3.Log();
}

// A stored key alone holds the server to TLS and to that key, for the report
// without a sign-in too: an administrator's pin line with STARTTLS struck
// out, or another key shown.
TEST_F(Trust, StoredKeyBindsEveryMethod)
{
    Start(false);
    const std::string pinLine = Key() + " sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
    WriteFile(known_, pinLine + "\n" + Key() + " no-tls\n");
    Question question;
    question.answer = true;
    for (const char *method : { "LOGIN", "" }) {
        const std::string reason = Send(method, &question);
        EXPECT_NE(reason.find("次の行を消してください:\r\n" + pinLine), std::string::npos)
            << reason;
    }
    Start(true, server_.port());
    const std::string reason = Send("", &question);
    EXPECT_NE(reason.find("に記録されたものと違います"), std::string::npos) << reason;
    EXPECT_NE(reason.find(Key() + " の sha256// で始まる鍵の行を消し"), std::string::npos);
    EXPECT_EQ(question.asked, 0);
    EXPECT_EQ(server_.MailCommands(), 0);
}

// What the file says cannot be known for sure: nothing is sent. A line not
// understood is told with its number and does not stop another server.
TEST_F(Trust, FileThatCannotBeReadStopsAndOddLinesAreTold)
{
    Start(true);
    std::filesystem::create_directory(known_);
    std::string reason = Send("", nullptr);
    EXPECT_NE(reason.find(known_ + ": Is a directory"), std::string::npos) << reason;
    std::filesystem::remove(known_);

    WriteFile(known_, "# ok\nmail.example.jp 587 starttls\n");
    Question question;
    ASSERT_EQ(Send("", &question), "");
    ASSERT_EQ(question.notices.size(), 1u);
    EXPECT_NE(question.notices[0].find(known_ + " の 2 行目"), std::string::npos)
        << question.notices[0];
    WriteFile(known_, Key() + " sha256:xyz\n");
    reason = Send("", &question);
    EXPECT_NE(reason.find("読み取れない行"), std::string::npos) << reason;
    EXPECT_EQ(server_.MailCommands(), 1);

    // A record that cannot be stored is told; the report goes all the same.
    std::filesystem::remove(known_);
    std::filesystem::remove(known_ + ".lock");
    std::filesystem::create_directory(known_ + ".lock");
    question.notices.clear();
    ASSERT_EQ(Send("", &question), "");
    ASSERT_EQ(question.notices.size(), 1u);
    EXPECT_NE(question.notices[0].find("記録できませんでした"), std::string::npos);
    EXPECT_NE(question.notices[0].find(Key() + " starttls"), std::string::npos);
}

// A centrally kept file reached through a link stays linked; writers that
// run at once all keep their lines, and a new file is the user's alone.
TEST_F(Trust, WritesGoThroughALinkAndUnderALock)
{
    const std::string central = dir_ / "central.txt";
    WriteFile(central, "# 社内\n");
    std::filesystem::create_symlink(central, known_);
    bsmtp::KnownServers known(known_);
    std::string reason;
    ASSERT_TRUE(known.Add("a.example.jp:25 starttls", reason)) << reason;
    EXPECT_TRUE(std::filesystem::is_symlink(known_));
    EXPECT_EQ(ReadFile(central), "# 社内\na.example.jp:25 starttls\n");

    const std::string fresh = dir_ / "fresh.txt";
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        const pid_t child = ::fork();
        if (child == 0) {
            bsmtp::KnownServers mine(fresh);
            std::string ignored;
            bool ok = true;
            for (int i = 0; i < 40; ++i)
                ok = mine.Add("h" + std::to_string(writer) + "-" + std::to_string(i)
                                  + ".example.jp:25 starttls",
                              ignored)
                     && ok;
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
    }
    bsmtp::KnownServers written(fresh);
    ASSERT_TRUE(written.Load(reason)) << reason;
    EXPECT_TRUE(written.problems().empty());
    for (int writer = 0; writer < 2; ++writer) {
        for (int i = 0; i < 40; ++i)
            EXPECT_TRUE(written.OfferedTls("h" + std::to_string(writer) + "-" + std::to_string(i)
                                           + ".example.jp:25"));
    }
    struct stat info
    {
    };
    ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
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
