// Whole submissions against real SMTP and POP3 servers on this machine, with a
// settings file written by the program's own writer. What was mailed is opened
// with the standard tools: openssl decrypts it, cabextract unpacks it.
#include "SendTestSupport.h"

#include "MailServers.h"
#include "common/Display.h"
#include "common/cp932.h"
#include "settings/clsIniFile.h"
#include "startup/SendSteps.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <thread>

namespace kestlin::test {
namespace {

namespace fs = std::filesystem;

// The RC4 key of the fixed password: the first 5 bytes of MD5("Ruda") and the
// provider's 11 zero bytes of salt.
const char *const kArchiveKey = "f6dff74fbb0000000000000000000000";
const std::string kUserPassword = "p@ssワード";
const DateTime kStamp { 2026, 3, 5, 14, 7, 9 };
const std::string kSendFile = "TMPU0120260305140709.txt";
const std::string kLogName = "R_MESS20260305140709.txt";
// The attachment log is named by the submission's own second.
const std::string kLogFolder = "20260305_140709";
const std::string kBodyLine = "石油動態報告,U01," + kUserPassword + ",reply@example.jp";

std::string Quoted(const std::string &text)
{
    return "'" + text + "'";
}

// Every report of the pipeline, with the step it came in.
class RecordingProgress : public SendProgress
{
public:
    struct Bytes
    {
        std::string step;
        int64_t done, total;
    };
    void StepStarted(const std::string &step, const std::string &) override
    {
        steps.push_back(step);
    }
    void BytesDone(int64_t done, int64_t total) override
    {
        bytes.push_back({ steps.empty() ? "" : steps.back(), done, total });
    }
    std::vector<Bytes> Of(const std::string &step) const
    {
        std::vector<Bytes> of;
        for (const Bytes &b : bytes) {
            if (b.step == step)
                of.push_back(b);
        }
        return of;
    }

    std::vector<std::string> steps;
    std::vector<Bytes> bytes;
};

class SendEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RemoveErrLogs();
        ResetDocumentsFolder();
        for (const std::string &folder : { temp, tempLog, log })
            fs::create_directories(folder);
        std::string reason;
        ASSERT_TRUE(smtp.Start(SmtpOptions {}, reason)) << reason;
        Write("USER", "HOUKOKU", "石油動態報告");
        Write("USER", "USERID", "U01");
        Write("USER", "PASSWORD", Stored(kUserPassword));
        Write("USER", "MAILADRESS", "reply@example.jp");
        Write("MAIL", "SMTP", "127.0.0.1");
        Write("MAIL", "PORT", std::to_string(smtp.port()));
        Write("MAIL", "CERTIFY", "0");
        Write("MAIL", "USERID", "user");
        Write("MAIL", "PASSWORD", Stored("password"));
        Write("MAIL", "SUBJECT", "【石油動態報告】");
        Write("MAIL", "MAILADRESS", "report@authority.example.jp");
        Write("SYSTEM", "LOG", log);
        Write("SYSTEM", "TEMPLOG", tempLog);
        Write("SYSTEM", "TEMP", temp);
        // The test server speaks no TLS: the user has allowed it by name.
        WriteFile(known, "127.0.0.1:" + std::to_string(smtp.port()) + " no-tls\r\n");

        list = PlainList({ File("a/data.csv", "1,2,3\r\n"), File("b/data.csv", "4,5,6\r\n"),
                           File("c/報告書.xls", std::string("\xD0\xCF\x11\xE0\0\x01\xFF", 7)) });
        pipeline.Clock(TickingClock {});
    }
    void TearDown() override { RemoveErrLogs(); }

    void Write(const std::string &section, const std::string &key, const std::string &value)
    {
        clsIniFile settings;
        settings.PathIniFile(ini);
        settings.Section(section);
        settings.Key(key);
        ASSERT_TRUE(settings.WriteValue(value)) << settings.GetErrMessage();
    }
    std::string File(const std::string &relative, const std::string &bytes)
    {
        const std::string path = dir / relative;
        fs::create_directories(fs::path(path).parent_path());
        WriteFile(path, bytes);
        return path;
    }

    // Decrypts and unpacks a mailed attachment with the standard tools.
    std::string OpenAttachment(const std::string &bytes)
    {
        const std::string folder = dir / "opened";
        fs::create_directories(folder);
        WriteFile(folder + "/mailed", bytes);
        const std::string decrypt = "openssl enc -d -rc4 -K " + std::string(kArchiveKey)
                                    + " -provider legacy -provider default -in "
                                    + Quoted(folder + "/mailed") + " -out "
                                    + Quoted(folder + "/report.cab");
        EXPECT_EQ(std::system(decrypt.c_str()), 0) << decrypt;
        const std::string extract = "cabextract -q -d " + Quoted(folder + "/files") + " "
                                    + Quoted(folder + "/report.cab");
        EXPECT_EQ(std::system(extract.c_str()), 0) << extract;
        return folder + "/files";
    }

    // What every failing step leaves: the list as it was, no working folder,
    // the error log under the step's name and the step's text on screen.
    void ExpectFailedStep(const std::string &step, const std::string &text)
    {
        EXPECT_EQ(list.entries.size(), 3u);
        EXPECT_EQ(list.selected, (std::vector<bool> { false, false, false }));
        EXPECT_TRUE(FolderNames(temp).empty());
        EXPECT_EQ(OnlyErrLog(), text + "," + step + "\r\n");
        ASSERT_FALSE(display.messages.empty());
        EXPECT_EQ(display.messages.back().text, text);
        EXPECT_EQ(display.messages.back().icon, MsgIcon::Exclamation);
        EXPECT_EQ(display.cursorChanges, (std::vector<bool> { true, false }));
    }

    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    const std::string temp = dir / "temp";
    const std::string tempLog = dir / "templog";
    const std::string log = dir / "log";
    const std::string known = dir / "known-servers.txt";
    SmtpServer smtp;
    RecordingDisplay display;
    PlainList list;
    SendPipeline pipeline { display, list, ini };
};

TEST_F(SendEndToEnd, SubmissionMailsOneAttachmentThatTheStandardToolsOpen)
{
    pipeline.cmdSend_Click();

    // One message, the success message, showing the one clock read.
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, SendPipeline::SuccessMessage(kStamp));
    EXPECT_NE(display.messages[0].text.find("2026年03月05日14時07分09秒"), std::string::npos);
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(display.cursorChanges, (std::vector<bool> { true, false }));
    EXPECT_TRUE(list.entries.empty());
    EXPECT_EQ(list.focusedAdd, 1);
    EXPECT_TRUE(ErrLogNames().empty());

    ASSERT_TRUE(smtp.WaitForMessages(1));
    const std::vector<ReceivedMail> received = smtp.Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].rcptTos, (std::vector<std::string> { "report@authority.example.jp" }));
    EXPECT_EQ(received[0].mailFrom, "reply@example.jp");
    const ParsedMail mail = ParseWithPython(received[0].path);
    ASSERT_TRUE(mail.ok) << mail.error;
    EXPECT_EQ(mail.Get("header:Subject"), "【石油動態報告】");
    EXPECT_EQ(mail.Get("body").rfind("U01,reply@example.jp", 0), 0u);
    ASSERT_EQ(mail.All("attachment_name"), (std::vector<std::string> { kSendFile }));
    EXPECT_EQ(mail.Get("attachment_type"), "application/octet-stream");

    // Names inside the archive are in CP932, as the receiving side reads them.
    const std::string files = OpenAttachment(mail.Get("attachment_bytes"));
    const std::string japanese = cp932::FromUtf8("報告書.xls");
    EXPECT_EQ(FolderNames(files),
              (std::vector<std::string> { "MAIN_TEXT.txt", "data.csv", "data0.csv", japanese }));
    EXPECT_EQ(ReadFile(files + "/data.csv"), "1,2,3\r\n");
    EXPECT_EQ(ReadFile(files + "/data0.csv"), "4,5,6\r\n");
    EXPECT_EQ(ReadFile(files + "/" + japanese), ReadFile(dir / "c/報告書.xls"));
    EXPECT_EQ(ReadFile(files + "/MAIN_TEXT.txt"), cp932::FromUtf8(kBodyLine + "\r\n"));

    // The attachment log holds what was packed, the password owner-only.
    const std::string attachmentLog = tempLog + "/" + kLogFolder;
    EXPECT_EQ(FolderNames(tempLog), (std::vector<std::string> { kLogFolder }));
    EXPECT_EQ(FolderNames(attachmentLog), (std::vector<std::string> { "MAIN_TEXT.txt", "data.csv",
                                                                      "data0.csv", "報告書.xls" }));
    EXPECT_EQ(ReadFile(attachmentLog + "/MAIN_TEXT.txt"), cp932::FromUtf8(kBodyLine + "\r\n"));
    EXPECT_EQ(ModeOf(attachmentLog + "/MAIN_TEXT.txt"), 0600u);
    EXPECT_EQ(ReadFile(attachmentLog + "/data0.csv"), "4,5,6\r\n");

    EXPECT_EQ(ReadFile(log + "/SEKIYU_REPORT/" + kLogName),
              cp932::FromUtf8(SendPipeline::SuccessMessage(kStamp) + "\r\n"));
    EXPECT_TRUE(FolderNames(temp).empty());
    EXPECT_EQ(pipeline.strSendFile, kSendFile);
    EXPECT_EQ(pipeline.strWorkSpace, temp + "/WorkSpace");
}

// While mailing, the observer hears the bytes of the message: from 0 to the
// size of the message the server stored, rising, in a bounded number of calls.
TEST_F(SendEndToEnd, MailingReportsTheBytesOfTheMessage)
{
    // Random bytes stay large in the archive: the message takes several reads.
    std::mt19937 generator(9);
    std::string bytes(768 << 10, '\0');
    for (char &b : bytes)
        b = static_cast<char>(generator());
    list = PlainList({ File("a/data.bin", bytes) });
    RecordingProgress progress;
    pipeline.Progress(&progress);

    pipeline.cmdSend_Click();

    ASSERT_EQ(display.messages.size(), 1u);
    ASSERT_EQ(display.messages[0].icon, MsgIcon::Information) << display.messages[0].text;
    ASSERT_TRUE(smtp.WaitForMessages(1));
    const auto stored = static_cast<int64_t>(smtp.Received().at(0).raw.size());
    const auto mailing = progress.Of("FncSendMail");
    ASSERT_GE(mailing.size(), 3u) << "reports on the way, not only the ends";
    EXPECT_LE(mailing.size(), 101u);
    EXPECT_EQ(mailing.front().done, 0);
    EXPECT_EQ(mailing.back().done, stored);
    for (size_t i = 0; i < mailing.size(); ++i) {
        EXPECT_EQ(mailing[i].total, stored);
        if (i > 0) {
            EXPECT_GT(mailing[i].done, mailing[i - 1].done);
        }
    }
    // The encryption still reports its own file's bytes.
    EXPECT_FALSE(progress.Of("FncEncrypt").empty());
}

TEST_F(SendEndToEnd, MissingLogFolderIsToldBeforeTheSuccessMessage)
{
    Write("SYSTEM", "LOG", dir / "no-such-log");

    pipeline.cmdSend_Click();

    const std::string report = DocumentsFolder() + "/SEKIYU_REPORT";
    ASSERT_EQ(display.messages.size(), 2u);
    EXPECT_EQ(display.messages[0].text, "ﾛｸﾞﾌｧｲﾙを出力するﾌｫﾙﾀﾞの指定に誤りがあります。\r\n"
                                        "設定ﾌｧｲﾙを確認してください。\r\nﾛｸﾞﾌｧｲﾙは"
                                            + report + "に出力されました。");
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(display.messages[1].text, SendPipeline::SuccessMessage(kStamp));
    EXPECT_TRUE(fs::exists(report + "/" + kLogName));
    EXPECT_TRUE(list.entries.empty());
    EXPECT_EQ(smtp.Received().size(), 1u);
}

TEST_F(SendEndToEnd, UndecryptableUserPasswordFailsTheBodyStepAndSendsNothing)
{
    Write("USER", "PASSWORD", "not an encrypted text");

    pipeline.cmdSend_Click();

    ASSERT_EQ(display.messages.size(), 1u);
    const std::string text = display.messages[0].text;
    EXPECT_FALSE(text.empty());
    ExpectFailedStep("FncCrtText", text);
    EXPECT_TRUE(smtp.Received().empty());
}

TEST_F(SendEndToEnd, MailPasswordIsDecryptedOnlyWhenASignInIsAsked)
{
    Write("MAIL", "PASSWORD", "not an encrypted text");
    pipeline.cmdSend_Click();
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Information) << display.messages[0].text;
    EXPECT_EQ(smtp.Received().size(), 1u);

    list = PlainList({ File("a/data.csv", "1"), File("b/data.csv", "2"), File("c/x.xls", "3") });
    display = RecordingDisplay();
    Write("MAIL", "CERTIFY", "2");
    pipeline.cmdSend_Click();
    ASSERT_EQ(display.messages.size(), 1u);
    ExpectFailedStep("FncSendMail", display.messages[0].text);
    EXPECT_EQ(smtp.Received().size(), 1u);
}

TEST_F(SendEndToEnd, RefusedSignInFailsTheMailStepAndRemovesEverything)
{
    Write("MAIL", "CERTIFY", "2");
    Write("MAIL", "PASSWORD", Stored("wrong password"));
    RecordingProgress progress;
    pipeline.Progress(&progress);

    pipeline.cmdSend_Click();

    ASSERT_EQ(display.messages.size(), 1u);
    const std::string text = display.messages[0].text;
    EXPECT_NE(text.find("535"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - std::string("clsMailｴﾗｰ").size()), "clsMailｴﾗｰ");
    ExpectFailedStep("FncSendMail", text);
    EXPECT_TRUE(smtp.Received().empty());
    EXPECT_TRUE(FolderNames(tempLog).empty());
    EXPECT_TRUE(progress.Of("FncSendMail").empty()) << "no byte of the message went";
}

TEST_F(SendEndToEnd, ServerNotListeningFailsTheMailStep)
{
    smtp.Stop();
    pipeline.cmdSend_Click();
    ASSERT_EQ(display.messages.size(), 1u);
    ExpectFailedStep("FncSendMail", display.messages[0].text);
}

// A company's certificate is asked about at the mailing step: no fails the
// step with the line to add to the file beside the settings; yes stores
// that line and the report goes.
TEST_F(SendEndToEnd, UntrustedCertificateIsAskedAboutAtTheMailingStep)
{
    SmtpOptions options;
    options.startTls = true;
    std::string reason;
    ASSERT_TRUE(smtp.Start(options, reason)) << reason;
    const std::string server = "127.0.0.1:" + std::to_string(smtp.port());
    Write("MAIL", "PORT", std::to_string(smtp.port()));
    Write("MAIL", "CERTIFY", "4");

    display.answers = { MsgResult::No };
    pipeline.cmdSend_Click();
    ASSERT_EQ(display.messages.size(), 2u);
    const ShownMessage question = display.messages[0];
    EXPECT_EQ(question.title, kAppTitle);
    EXPECT_EQ(question.icon, MsgIcon::Question);
    EXPECT_EQ(question.buttons, MsgButtons::YesNo);
    EXPECT_NE(question.text.find(server), std::string::npos) << question.text;
    EXPECT_NE(question.text.find("CN=Kestlin-Test-CA"), std::string::npos) << question.text;
    EXPECT_TRUE(question.text.ends_with("この証明書を信頼して送信しますか？"));
    const std::string failure = display.messages[1].text;
    EXPECT_NE(failure.find(known + " に加えると"), std::string::npos) << failure;
    EXPECT_NE(failure.find("\r\n" + server + " sha256//"), std::string::npos) << failure;
    ExpectFailedStep("FncSendMail", failure);

    RemoveErrLogs();
    display = {};
    display.answers = { MsgResult::Yes };
    pipeline.cmdSend_Click();
    ASSERT_EQ(display.messages.size(), 2u);
    EXPECT_EQ(display.messages[1].icon, MsgIcon::Information) << display.messages[1].text;
    ASSERT_TRUE(smtp.WaitForMessages(1));
    EXPECT_TRUE(smtp.Received().at(0).tls);
    EXPECT_NE(ReadFile(known).find(server + " sha256//"), std::string::npos);
}

TEST_F(SendEndToEnd, PortThatIsNoNumberFailsTheMailStepWithTheConversionError)
{
    Write("MAIL", "PORT", "2 5");
    pipeline.cmdSend_Click();
    ExpectFailedStep("FncSendMail", "型が一致しません。");
}

TEST_F(SendEndToEnd, ReadOnlyAttachmentLogFailsAfterTheMailWasSent)
{
    ::chmod(tempLog.c_str(), 0555);
    {
        PermissionsEnforced enforced;
        pipeline.cmdSend_Click();
    }
    // The submission log does not depend on the attachment log; the copies
    // stay in the working folder, which the message names.
    ASSERT_EQ(display.messages.size(), 1u);
    const std::string &text = display.messages[0].text;
    EXPECT_TRUE(
        text.starts_with("メールは送信しましたが、LOGの記録に失敗しました。\r\n添付ﾌｧｲﾙLOG: "))
        << text;
    EXPECT_NE(text.find("「" + temp + "/WorkSpace」"), std::string::npos) << text;
    EXPECT_EQ(smtp.Received().size(), 1u) << "nothing that was sent is recalled";
    EXPECT_TRUE(fs::exists(log + "/SEKIYU_REPORT/" + kLogName));
    EXPECT_TRUE(fs::exists(temp + "/WorkSpace/Temp/MAIN_TEXT.txt"));
}

// Each sign-in method once, end to end; POP before SMTP on the port that the
// settings file names (POPPORT), so that it runs on a free port.
class SignIn : public SendEndToEnd, public ::testing::WithParamInterface<int>
{
};

TEST_P(SignIn, EachMethodDeliversTheReport)
{
    const int certify = GetParam();
    Pop3Server pop3;
    if (certify == 1) {
        std::string reason;
        ASSERT_TRUE(pop3.Start(Pop3Options {}, reason)) << reason;
        Write("MAIL", "POPPORT", std::to_string(pop3.port()));
    }
    Write("MAIL", "CERTIFY", std::to_string(certify));
    // Nothing allowed yet: a password would go in clear, so the window asks
    // once (the recording display says yes) and the yes is stored.
    WriteFile(known, "");

    pipeline.cmdSend_Click();

    ASSERT_EQ(display.messages.size(), certify == 0 ? 1u : 2u);
    if (certify != 0) {
        const std::string port = std::to_string(certify == 1 ? pop3.port() : smtp.port());
        EXPECT_EQ(display.messages[0].buttons, MsgButtons::YesNo);
        EXPECT_EQ(display.messages[0].text.rfind("このサーバーは暗号化に対応していません。"
                                                 "パスワードを暗号化せずに送信しますか？\r\n\r\n"
                                                 "サーバー: 127.0.0.1\r\nポート: "
                                                     + port,
                                                 0),
                  0u)
            << display.messages[0].text;
        EXPECT_NE(ReadFile(known).find("127.0.0.1:" + port + " no-tls\r\n"), std::string::npos)
            << ReadFile(known);
    }
    EXPECT_EQ(display.messages.back().icon, MsgIcon::Information) << display.messages.back().text;
    ASSERT_TRUE(smtp.WaitForMessages(1));
    const ReceivedMail mail = smtp.Received().at(0);
    const char *mechanisms[] = { "", "", "LOGIN", "CRAM-MD5", "PLAIN" };
    EXPECT_EQ(mail.authenticated, certify >= 2);
    EXPECT_EQ(mail.mechanism, mechanisms[certify]);
    if (certify >= 2) {
        EXPECT_EQ(mail.login, "user");
    }
    if (certify == 1) {
        EXPECT_NE(pop3.Log().find("user"), std::string::npos) << pop3.Log();
    }
}

std::string MethodName(const ::testing::TestParamInfo<int> &info)
{
    static const char *const names[]
        = { "None", "PopBeforeSmtp", "AuthLogin", "AuthCramMd5", "AuthPlain" };
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(AllMethods, SignIn, ::testing::Values(0, 1, 2, 3, 4), MethodName);

} // namespace
} // namespace kestlin::test
