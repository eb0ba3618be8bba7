// The mail class with the real library and real servers.
#include "MailServers.h"
#include "mail/clsMail.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using kestlin::clsMail;
using kestlin::MailDelivery;
using kestlin::test::Pop3Options;
using kestlin::test::Pop3Server;
using kestlin::test::SmtpOptions;
using kestlin::test::SmtpServer;

const char kTag[] = "clsMailｴﾗｰ";

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size()
           && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class MailTest : public ::testing::Test
{
protected:
    void Start(const SmtpOptions &options = {})
    {
        std::string reason;
        ASSERT_TRUE(smtp_.Start(options, reason)) << reason;
    }

    // A mail as the pipeline fills it: one attachment, account always set.
    void Fill(clsMail &mail, int port)
    {
        mail.SetSMTP("127.0.0.1");
        mail.SetPOP("127.0.0.1");
        if (port)
            mail.SetPort(port);
        mail.SetFrom("me@kestlin.test");
        mail.AddTo("to@kestlin.test");
        mail.SetSubject("【石油動態報告】");
        mail.SetMain("報告ID:1\r\n");
        const std::string path = dir_ / "TMP1.txt";
        kestlin::test::WriteFile(path, "encrypted");
        mail.AddFile(path + "|TMP1.txt|application/octet-stream");
        mail.SetUserId("user");
        mail.SetPassword("password");
    }

    SmtpServer smtp_;
    kestlin::test::TempDir dir_;
};

class Certify : public MailTest, public ::testing::WithParamInterface<std::pair<int, const char *>>
{
};

TEST_P(Certify, SignsInWithTheMethodOfTheCode)
{
    Start();
    clsMail mail;
    Fill(mail, smtp_.port());
    mail.SetCertify(static_cast<int16_t>(GetParam().first));
    ASSERT_TRUE(mail.Send()) << mail.GetErrMsg();
    EXPECT_EQ(mail.GetErrMsg(), "");
    ASSERT_TRUE(smtp_.WaitForMessages(1));
    const auto received = smtp_.Received().at(0);
    EXPECT_EQ(received.mechanism, GetParam().second);
    EXPECT_EQ(received.authenticated, *GetParam().second != '\0');
    EXPECT_EQ(received.mailFrom, "me@kestlin.test");
    EXPECT_NE(received.raw.find("TMP1.txt"), std::string::npos);
}

// 0 and unknown codes send no account at all, though one is set.
INSTANTIATE_TEST_SUITE_P(Codes, Certify,
                         ::testing::Values(std::pair(0, ""), std::pair(2, "LOGIN"),
                                           std::pair(3, "CRAM-MD5"), std::pair(4, "PLAIN"),
                                           std::pair(6, ""), std::pair(-1, "")),
                         [](const auto &info) {
                             return "Code" + std::to_string(info.param.first + 1);
                         });

TEST_F(MailTest, RecipientListsReachTheirEnvelope)
{
    Start();
    clsMail mail;
    Fill(mail, smtp_.port());
    mail.AddTo("to2@kestlin.test");
    mail.AddCc("cc@kestlin.test");
    mail.AddBcc("bcc@kestlin.test");
    ASSERT_TRUE(mail.Send()) << mail.GetErrMsg();

    // To empty: the list starts with the TAB before "cc".
    clsMail ccOnly;
    ccOnly.SetSMTP("127.0.0.1");
    ccOnly.SetPort(smtp_.port());
    ccOnly.SetFrom("me@kestlin.test");
    ccOnly.AddCc("cc@kestlin.test");
    ASSERT_TRUE(ccOnly.Send()) << ccOnly.GetErrMsg();

    ASSERT_TRUE(smtp_.WaitForMessages(2));
    const auto received = smtp_.Received();
    EXPECT_EQ(received[0].rcptTos,
              (std::vector<std::string> { "to@kestlin.test", "to2@kestlin.test", "cc@kestlin.test",
                                          "bcc@kestlin.test" }));
    EXPECT_EQ(received[0].raw.find("bcc@kestlin.test"), std::string::npos);
    EXPECT_EQ(received[1].rcptTos, (std::vector<std::string> { "cc@kestlin.test" }));

    clsMail nobody;
    nobody.SetSMTP("127.0.0.1");
    nobody.SetPort(smtp_.port());
    nobody.SetFrom("me@kestlin.test");
    EXPECT_FALSE(nobody.Send());
    EXPECT_EQ(nobody.GetErrMsg(), std::string("宛先が指定されていません。") + kTag);
}

TEST_F(MailTest, SmtpRefusalIsFollowedDirectlyByTheTag)
{
    Start();
    clsMail mail;
    Fill(mail, smtp_.port());
    mail.SetCertify(2);
    mail.SetPassword("wrong");
    EXPECT_FALSE(mail.Send());
    EXPECT_EQ(mail.GetErrMsg(),
              std::string("SMTP認証に失敗しました。535 5.7.8 Authentication credentials invalid")
                  + kTag);
    EXPECT_EQ(smtp_.MailCommands(), 0);
}

TEST_F(MailTest, EmptyPortMeansTwentyFive)
{
    std::string why;
    if (!kestlin::test::PortCanBeBound(25, why))
        GTEST_SKIP() << "port 25 is needed: " << why;
    SmtpOptions options;
    options.port = 25;
    Start(options);
    clsMail mail;
    Fill(mail, 0);
    ASSERT_TRUE(mail.Send()) << mail.GetErrMsg();
    EXPECT_TRUE(smtp_.WaitForMessages(1));
}

class PopBeforeSmtp : public MailTest
{
protected:
    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(pop3_.Start(Pop3Options {}, why)) << why;
        Start();
    }

    Pop3Server pop3_;
};

TEST_F(PopBeforeSmtp, SignsInToPop3ThenSendsWithoutSmtpAuth)
{
    clsMail mail;
    Fill(mail, smtp_.port());
    mail.SetCertify(1);
    mail.SetPOPPort(pop3_.port());
    ASSERT_TRUE(mail.Send()) << mail.GetErrMsg();
    EXPECT_NE(pop3_.Log().find("Login: user=<user>"), std::string::npos) << pop3_.Log();
    ASSERT_TRUE(smtp_.WaitForMessages(1));
    EXPECT_FALSE(smtp_.Received().at(0).authenticated);
}

TEST_F(PopBeforeSmtp, FailedPop3LoginSendsNothing)
{
    clsMail mail;
    Fill(mail, smtp_.port());
    mail.SetCertify(1);
    mail.SetPOPPort(pop3_.port());
    mail.SetPassword("wrong");
    EXPECT_FALSE(mail.Send());
    const std::string error = mail.GetErrMsg();
    EXPECT_EQ(error.rfind("POP3サーバーにログインできません。-ERR", 0), 0u) << error;
    EXPECT_TRUE(EndsWith(error, std::string(" ") + kTag)) << error;
    EXPECT_EQ(smtp_.MailCommands(), 0);
}

// Code 5 signs in with the access token given as the password: XOAUTH2
// where offered, else OAUTHBEARER; a server with neither gets nothing.
TEST_F(MailTest, BearerTokenSignsInWithXoauth2OrOauthbearer)
{
    for (const std::vector<std::string> &offered :
         { std::vector<std::string> { "PLAIN", "OAUTHBEARER", "XOAUTH2" },
           std::vector<std::string> { "LOGIN", "OAUTHBEARER" } }) {
        SmtpServer server;
        SmtpOptions options;
        options.mechanisms = offered;
        options.bearerToken = "ya29.token";
        std::string why;
        ASSERT_TRUE(server.Start(options, why)) << why;
        clsMail mail;
        Fill(mail, server.port());
        mail.SetCertify(5);
        mail.SetPassword("ya29.token");
        ASSERT_TRUE(mail.Send()) << mail.GetErrMsg();
        ASSERT_TRUE(server.WaitForMessages(1));
        const auto received = server.Received().at(0);
        EXPECT_EQ(received.mechanism, offered.size() == 3 ? "XOAUTH2" : "OAUTHBEARER");
        EXPECT_EQ(received.login, "user");
    }

    Start();
    clsMail none;
    Fill(none, smtp_.port());
    none.SetCertify(5);
    EXPECT_FALSE(none.Send());
    EXPECT_NE(none.GetErrMsg().find("XOAUTH2 と OAUTHBEARER のどちらにも対応していません"),
              std::string::npos)
        << none.GetErrMsg();
    EXPECT_EQ(smtp_.MailCommands(), 0);
}

TEST_F(MailTest, WrongBearerTokenIsRefusedWithTheServersReply)
{
    SmtpOptions options;
    options.mechanisms = { "XOAUTH2" };
    Start(options);
    clsMail mail;
    Fill(mail, smtp_.port());
    mail.SetCertify(5);
    mail.SetPassword("expired");
    EXPECT_FALSE(mail.Send());
    EXPECT_EQ(mail.GetErrMsg(),
              std::string("SMTP認証に失敗しました。535 5.7.8 Authentication credentials invalid")
                  + kTag);
    EXPECT_EQ(smtp_.MailCommands(), 0);
}

// Once the message's last byte has gone, only a refusal says it did not
// arrive; a connection dropped instead of the reply leaves it open.
TEST_F(MailTest, DeliveryTellsWhetherTheServerMayHoldTheMessage)
{
    using AfterData = SmtpOptions::AfterData;
    for (const auto &[after, delivery] : { std::pair(AfterData::Reply, MailDelivery::Accepted),
                                           std::pair(AfterData::Refuse, MailDelivery::NotSent),
                                           std::pair(AfterData::Drop, MailDelivery::Unknown) }) {
        SmtpServer server;
        SmtpOptions options;
        options.afterData = after;
        std::string why;
        ASSERT_TRUE(server.Start(options, why)) << why;
        clsMail mail;
        Fill(mail, server.port());
        EXPECT_EQ(mail.Send(), delivery == MailDelivery::Accepted) << mail.GetErrMsg();
        EXPECT_EQ(mail.GetDelivery(), delivery) << mail.GetErrMsg();
    }
    // Refused before the message: nothing went.
    Start();
    clsMail refused;
    Fill(refused, smtp_.port());
    refused.AddTo("no@refused.test");
    EXPECT_FALSE(refused.Send());
    EXPECT_EQ(refused.GetDelivery(), MailDelivery::NotSent);
}

// The reports reach the class's receiver: rising, few, and ending at the
// size of the message the server stored.
TEST_F(MailTest, SendingReportsTheBytesOfTheMessage)
{
    Start();
    clsMail mail;
    Fill(mail, smtp_.port());
    mail.SetCertify(4);
    const std::string path = dir_ / "TMP2.txt";
    kestlin::test::WriteFile(path, std::string(1 << 20, '\x5A'));
    mail.AddFile(path + "|TMP2.txt|application/octet-stream");
    std::vector<std::pair<int64_t, int64_t>> calls;
    mail.Sending = [&](int64_t sent, int64_t total) { calls.emplace_back(sent, total); };

    ASSERT_TRUE(mail.Send()) << mail.GetErrMsg();
    ASSERT_TRUE(smtp_.WaitForMessages(1));
    const auto stored = static_cast<int64_t>(smtp_.Received().at(0).raw.size());
    ASSERT_GE(calls.size(), 2u);
    EXPECT_LE(calls.size(), 101u);
    EXPECT_EQ(calls.front(), std::make_pair(int64_t(0), stored));
    EXPECT_EQ(calls.back(), std::make_pair(stored, stored));
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_GT(calls[i].first, calls[i - 1].first);
}

// A receiver that throws cannot unwind through the library: the mail still
// goes, and a refusal is still a failure.
TEST_F(MailTest, ReceiverThatThrowsDoesNotStopTheMail)
{
    Start();
    clsMail mail;
    Fill(mail, smtp_.port());
    int calls = 0;
    mail.Sending = [&](int64_t, int64_t) {
        ++calls;
        throw std::runtime_error("display gone");
    };
    ASSERT_TRUE(mail.Send()) << mail.GetErrMsg();
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(smtp_.WaitForMessages(1));

    clsMail refused;
    Fill(refused, smtp_.port());
    refused.AddTo("no@refused.test");
    refused.Sending = mail.Sending;
    EXPECT_FALSE(refused.Send());
    EXPECT_EQ(refused.GetErrMsg().rfind("SMTPサーバーが送信を拒否しました。550", 0), 0u)
        << refused.GetErrMsg();
}

// A library from before BsmtpSubmit is named in the reason, and sends nothing.
TEST(LibraryWithoutSubmit, FailsNamingTheEntryPoint)
{
    if (!std::getenv("KESTLIN_EXPECT_BSMTP_WITHOUT_SUBMIT"))
        GTEST_SKIP() << "runs as its own test, with the older library on the path";
    clsMail mail;
    mail.SetSMTP("127.0.0.1");
    mail.AddTo("to@kestlin.test");
    EXPECT_FALSE(mail.Send());
    const std::string error = mail.GetErrMsg();
    EXPECT_NE(error.find("BsmtpSubmit"), std::string::npos) << error;
    EXPECT_TRUE(EndsWith(error, kTag)) << error;
}

TEST(LibraryMissing, FailsWithAReasonNamingIt)
{
    if (!std::getenv("KESTLIN_EXPECT_NO_BSMTP"))
        GTEST_SKIP() << "runs as its own test, without the library path";
    clsMail mail;
    mail.SetSMTP("127.0.0.1");
    mail.AddTo("to@kestlin.test");
    EXPECT_FALSE(mail.Send());
    EXPECT_EQ(mail.GetErrMsg().rfind("libbsmtp.so", 0), 0u) << mail.GetErrMsg();
    EXPECT_TRUE(EndsWith(mail.GetErrMsg(), kTag)) << mail.GetErrMsg();
}

} // namespace
