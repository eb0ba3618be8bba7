// The command line as a script runs it: the program copied into a folder of
// its own with the libraries and its settings file, started without a screen
// (no DISPLAY, no usable Qt platform), against a real SMTP server.
#include "SendTestSupport.h"

#include "IdentityProvider.h"
#include "MailServers.h"
#include "common/cp932.h"
#include "settings/clsIniFile.h"
#include "startup/KestlinStart.h"
#include "startup/Terminal.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/securebits.h>
#include <regex>
#include <set>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace kestlin::test {
namespace {

namespace fs = std::filesystem;

struct Result
{
    int status = -1;
    std::string out, err;
};

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

class CommandLineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(bin);
        fs::copy_file(KESTLIN_PROGRAM, bin + "/kestlin");
        fs::copy_file(KESTLIN_PROBE, bin + "/kestlin_probe");
        for (const char *library : { "libbsmtp.so", "libcab32.so", "libcapicom.so" })
            fs::copy_file(fs::path(KESTLIN_LIB_DIR) / library, bin + "/" + library);
        for (const std::string &folder : { temp, tempLog, log })
            fs::create_directories(folder);
        std::string reason;
        ASSERT_TRUE(smtp.Start(SmtpOptions {}, reason)) << reason;
        Settings(smtp.port(), "report@authority.example.jp");
        report = dir / "report.csv";
        WriteFile(report, "1,2,3\r\n");
    }

    // The settings file of the program folder, where the window looks too.
    void Settings(int port, const std::string &to, const std::string &certify = "0",
                  const std::string &path = {})
    {
        const IniSections sections = {
            { "USER",
              { { "HOUKOKU", "石油動態報告" },
                { "USERID", "U01" },
                { "PASSWORD", Stored("secret") },
                { "MAILADRESS", "reply@example.jp" } } },
            { "MAIL",
              { { "SMTP", "127.0.0.1" },
                { "PORT", std::to_string(port) },
                { "CERTIFY", certify },
                { "USERID", "user" },
                { "PASSWORD", Stored("password") },
                { "SUBJECT", "【石油動態報告】" },
                { "MAILADRESS", to } } },
            { "SYSTEM", { { "LOG", log }, { "TEMPLOG", tempLog }, { "TEMP", temp } } },
        };
        WriteIniByHand(path.empty() ? ini : path, sections);
    }

    // Starts the program; screen: Qt's offscreen platform, else none at all.
    // Its output goes to files of its own: out<n> and err<n>; or, with
    // noReader, its standard output to a pipe that nobody reads.
    pid_t Start(const std::string &program, const std::vector<std::string> &args, bool screen,
                bool noReader = false, bool unprivileged = false)
    {
        ++runs;
        int pipeEnds[2] = { -1, -1 };
        if (noReader && ::pipe(pipeEnds) != 0)
            return -1;
        std::vector<std::string> argv { bin + "/" + program }, env;
        argv.insert(argv.end(), args.begin(), args.end());
        for (char **e = environ; *e; ++e) {
            if (!std::regex_search(*e, std::regex("^(DISPLAY|WAYLAND_DISPLAY|QT_QPA_PLATFORM|LD_"
                                                  "LIBRARY_PATH)=")))
                env.push_back(*e);
        }
        env.push_back(screen ? "QT_QPA_PLATFORM=offscreen" : "QT_QPA_PLATFORM=no-such-platform");
        const auto pointers = [](std::vector<std::string> &strings) {
            std::vector<char *> p;
            for (std::string &s : strings)
                p.push_back(s.data());
            p.push_back(nullptr);
            return p;
        };
        std::vector<char *> cargs = pointers(argv), cenv = pointers(env);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int out = ::open(Output("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = ::open(Output("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(noReader ? pipeEnds[1] : out, 1);
            if (noReader)
                ::close(pipeEnds[0]);
            ::signal(SIGPIPE, SIG_DFL); // as a shell starts it
            ::dup2(err, 2);
            // Root without its capabilities: the permission bits hold for it too.
            if (unprivileged && ::geteuid() == 0 && ::prctl(PR_SET_SECUREBITS, SECBIT_NOROOT) != 0)
                ::_exit(126);
            ::execve(cargs[0], cargs.data(), cenv.data());
            ::_exit(127);
        }
        if (noReader) {
            ::close(pipeEnds[0]);
            ::close(pipeEnds[1]);
        }
        return pid;
    }

    std::string Output(const char *stream) const { return dir / (stream + std::to_string(runs)); }

    Result Run(const std::vector<std::string> &args, const std::string &program = "kestlin",
               bool screen = false, bool noReader = false, bool unprivileged = false)
    {
        return Wait(Start(program, args, screen, noReader, unprivileged));
    }

    Result Wait(pid_t pid)
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(Output("out")),
                 ReadFile(Output("err")) };
    }

    std::vector<std::string> ErrorLogs() const
    {
        std::vector<std::string> logs;
        for (const std::string &name : FolderNames(bin)) {
            if (name.starts_with("Err_"))
                logs.push_back(cp932::ToUtf8(ReadFile(bin + "/" + name)));
        }
        return logs;
    }

    bool WaitForLock()
    {
        const std::string lock = InstanceLock::LockFilePath(bin);
        for (int i = 0; i < 500 && !fs::exists(lock); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return fs::exists(lock);
    }

    // Starts server so that it stops answering at stall, and points the
    // settings at it.
    void UseStalledServer(SmtpServer &server, SmtpOptions::Stall stall)
    {
        SmtpOptions options;
        options.stall = stall;
        std::string reason;
        ASSERT_TRUE(server.Start(options, reason)) << reason;
        Settings(server.port(), "report@authority.example.jp");
    }

    // Waits until the submission record holds line ("state=started").
    bool WaitForRecord(const std::string &line)
    {
        for (int i = 0; i < 1000; ++i) {
            if (Contains(ReadFile(record), line))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    TempDir dir;
    const std::string bin = dir / "bin";
    const std::string record = bin + "/submission.rec";
    const std::string ini = bin + "/Kestlin.INI";
    const std::string temp = dir / "temp";
    const std::string tempLog = dir / "templog";
    const std::string log = dir / "log";
    std::string report;
    SmtpServer smtp;
    int runs = 0;
};

TEST_F(CommandLineTest, SendsOnceWithoutAScreenAndLogsLikeTheWindow)
{
    const Result check = Run({ "--check" });
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_TRUE(Contains(check.out, "設定ファイルに問題はありません。"));

    const Result sent = Run({ "--send", report });
    ASSERT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.err, "");
    // Plain lines into a file: every step, the bytes, no terminal controls.
    EXPECT_TRUE(Contains(sent.out, "(1/9) 作業ﾌｫﾙﾀﾞ作成中…\n"));
    EXPECT_TRUE(Contains(sent.out, "(6/9) 暗号化中… 100% ("));
    EXPECT_FALSE(Contains(sent.out, "\r") || Contains(sent.out, "\033"));
    const size_t at = sent.out.find("石油動態報告メッセージは、「");
    ASSERT_NE(at, std::string::npos) << sent.out;

    ASSERT_TRUE(smtp.WaitForMessages(1));
    const std::vector<ReceivedMail> mails = smtp.Received();
    ASSERT_EQ(mails.size(), 1u);
    const ParsedMail mail = ParseWithPython(mails[0].path);
    ASSERT_TRUE(mail.ok) << mail.error;
    EXPECT_TRUE(mail.Get("attachment_name").starts_with("TMPU01"));

    // The window's logs: the success message as printed, what was packed.
    const std::vector<std::string> logs = FolderNames(log + "/SEKIYU_REPORT");
    ASSERT_EQ(logs.size(), 1u);
    std::string printed;
    for (const char c : sent.out.substr(at))
        printed += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(cp932::ToUtf8(ReadFile(log + "/SEKIYU_REPORT/" + logs[0])), printed);
    const std::vector<std::string> packed = FolderNames(tempLog);
    ASSERT_EQ(packed.size(), 1u);
    EXPECT_EQ(FolderNames(tempLog + "/" + packed[0]),
              (std::vector<std::string> { "MAIN_TEXT.txt", "report.csv" }));
    EXPECT_TRUE(FolderNames(temp).empty());
    EXPECT_TRUE(ErrorLogs().empty());

    // A reader that has gone away does not cut a submission short.
    EXPECT_EQ(Run({ "--send", report }, "kestlin", false, true).status, 0);
    EXPECT_TRUE(smtp.WaitForMessages(2));
    EXPECT_TRUE(FolderNames(temp).empty());
}

TEST_F(CommandLineTest, RefusesBeforeSendingNamingWhatAndWritesNothing)
{
    fs::create_directories(dir / "folder");
    WriteFile(dir / "MAIN_TEXT.txt", "x");
    WriteFile(dir / "CON.txt", "x");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        { { "--send", report, "--frobnicate" }, "--frobnicate" },
        { { "--send" }, "--send の後に" },
        { { "--check", report }, report },
        { { "--settings", dir / "folder", "--send", report }, "はフォルダです" },
        { { "--send", report, "--settings", dir / "none.ini" }, dir / "none.ini" },
        { { "--send", report, dir.path() + "/./report.csv" }, "2回指定" },
        { { "--send", report, dir / "MAIN_TEXT.txt" }, "予約されている" },
        { { "--send", dir / "CON.txt", report }, "「CON.txt」は受信側のWindows" },
        { { "--send", report, dir / "gone.csv" }, dir / "gone.csv" },
        { { "--send", dir / "folder" }, "フォルダは添付できません" },
    };
    for (const auto &[args, named] : cases) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_TRUE(Contains(r.err, named)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // Nothing mailed, nothing written anywhere.
    EXPECT_EQ(smtp.MailCommands(), 0);
    EXPECT_TRUE(FolderNames(temp).empty() && FolderNames(tempLog).empty()
                && FolderNames(log).empty() && ErrorLogs().empty());

    // The settings dialog's checks, the first failing one with its key.
    WriteIniByHand(ini, { { "USER", { { "HOUKOKU", "  " }, { "PASSWORD", Stored("x") } } },
                          { "MAIL", { { "CERTIFY", "0" } } } });
    const Result check = Run({ "--check" });
    EXPECT_EQ(check.status, 2);
    EXPECT_TRUE(Contains(check.err, "[USER] HOUKOKU: USER設定の報告IDが未入力です。")) << check.err;
}

TEST_F(CommandLineTest, ExitStatusSaysWhetherTheMailWentOut)
{
    // Refused by the server: nothing sent, the window's error log, no working folder.
    Settings(smtp.port(), "report@refused.test");
    Result r = Run({ "--send", report });
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(Contains(r.err, "送信に失敗しました（FncSendMail）。\n")) << r.err;
    EXPECT_TRUE(FolderNames(temp).empty());
    const std::vector<std::string> logs = ErrorLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_TRUE(logs[0].ends_with(",FncSendMail\r\n")) << logs[0];

    // Sent, but a file stands where the submission log's folder belongs.
    Settings(smtp.port(), "report@authority.example.jp");
    WriteFile(log + "/SEKIYU_REPORT", "");
    r = Run({ "--send", report });
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(Contains(r.err, "\n送信LOG: ")) << r.err;
    EXPECT_TRUE(Contains(r.err, "再送信しないでください。"));
    EXPECT_TRUE(smtp.WaitForMessages(1));
}

// Nobody answers the certificate question: the failure names the file and
// the line to add, and with that line in place the report goes.
TEST_F(CommandLineTest, UntrustedCertificatePrintsTheLineToAdd)
{
    SmtpServer tls;
    SmtpOptions options;
    options.startTls = true;
    std::string reason;
    ASSERT_TRUE(tls.Start(options, reason)) << reason;
    Settings(tls.port(), "report@authority.example.jp", "2");
    const std::string known = bin + "/known-servers.txt";

    const Result refused = Run({ "--send", report });
    EXPECT_EQ(refused.status, 3);
    EXPECT_TRUE(Contains(refused.err, known)) << refused.err;
    const std::regex pin("\n(127\\.0\\.0\\.1:[0-9]+ sha256//[A-Za-z0-9+/=]+)\n");
    std::smatch line;
    ASSERT_TRUE(std::regex_search(refused.err, line, pin)) << refused.err;
    EXPECT_FALSE(Contains(ReadFile(known), line[1].str()));
    EXPECT_EQ(tls.MailCommands(), 0);

    WriteFile(known, ReadFile(known) + "# added by the administrator\n" + line[1].str() + "\n");
    const Result sent = Run({ "--send", report });
    EXPECT_EQ(sent.status, 0) << sent.err;
    ASSERT_TRUE(tls.WaitForMessages(1));
    EXPECT_TRUE(tls.Received().at(0).tls);
}

// A password would go in clear: refused with the line that allows it. With
// that line the report goes; a line not understood is told with its number,
// by --check as a problem and by --send on the way.
TEST_F(CommandLineTest, ServerWithoutTlsPrintsTheLineToAllowIt)
{
    Settings(smtp.port(), "report@authority.example.jp", "2");
    const std::string known = bin + "/known-servers.txt";
    const std::string allow = "127.0.0.1:" + std::to_string(smtp.port()) + " no-tls";
    const Result refused = Run({ "--send", report });
    EXPECT_EQ(refused.status, 3);
    EXPECT_TRUE(Contains(refused.err, "このサーバーは暗号化に対応していません。")) << refused.err;
    EXPECT_TRUE(Contains(refused.err, known + " に加えると")) << refused.err;
    EXPECT_TRUE(Contains(refused.err, "\n" + allow + "\n")) << refused.err;
    EXPECT_EQ(smtp.MailCommands(), 0);

    WriteFile(known, allow + "\nmail.example.jp:587 sha256\n");
    const Result check = Run({ "--check" });
    EXPECT_EQ(check.status, 2);
    EXPECT_TRUE(Contains(check.err, known + " の 2 行目")) << check.err;
    const Result sent = Run({ "--send", report });
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_TRUE(Contains(sent.err, known + " の 2 行目")) << sent.err;
    ASSERT_TRUE(smtp.WaitForMessages(1));
    EXPECT_EQ(smtp.Received().at(0).mechanism, "LOGIN");
}

TEST_F(CommandLineTest, OneCopyAtATimeWhicheverWayItStarted)
{
    // The window holds the settings: a send is refused at once.
    fs::remove(InstanceLock::LockFilePath(bin));
    const pid_t window = Start("kestlin", {}, true);
    ASSERT_TRUE(WaitForLock());
    const Result refused = Run({ "--send", report });
    EXPECT_EQ(refused.status, 5);
    EXPECT_TRUE(Contains(refused.err, "二重起動はできません。"));
    ::kill(window, SIGKILL);
    ::waitpid(window, nullptr, 0);

    // A send that hangs at the server holds them: the window and a second send are refused.
    SmtpServer stalled;
    ASSERT_NO_FATAL_FAILURE(UseStalledServer(stalled, SmtpOptions::Stall::Data));
    fs::remove(InstanceLock::LockFilePath(bin));
    const pid_t first = Start("kestlin", { "--send", report }, false);
    ASSERT_TRUE(WaitForLock());
    const Result probe = Run({ "start" }, "kestlin_probe", true);
    EXPECT_TRUE(Contains(probe.out, "二重起動はできません。")) << probe.out << probe.err;
    EXPECT_EQ(Run({ "--send", report }).status, 5);
    ::kill(first, SIGKILL);
    ::waitpid(first, nullptr, 0);
    EXPECT_EQ(smtp.MailCommands(), 0);

    // A lock that cannot be made is no running copy: the reason, the name.
    fs::remove(InstanceLock::LockFilePath(bin));
    fs::create_directory(InstanceLock::LockFilePath(bin));
    const Result unusable = Run({ "--send", report });
    fs::remove(InstanceLock::LockFilePath(bin));
    EXPECT_EQ(unusable.status, 2);
    EXPECT_TRUE(Contains(unusable.err, InstanceLock::LockFilePath(bin))) << unusable.err;
    EXPECT_FALSE(Contains(unusable.err, "二重起動"));
}

// Killed once the server had accepted the mail, before the submission log
// was written (it waits at a pipe that stands where its file goes): the next
// start writes the logs, says so, and sends nothing; the run after sends.
TEST_F(CommandLineTest, KilledAfterAcceptanceIsLoggedAtTheNextStartNeverSentTwice)
{
    const std::string reports = log + "/SEKIYU_REPORT";
    fs::create_directories(reports);
    std::vector<std::string> pipes;
    for (std::time_t t = std::time(nullptr), end = t + 60; t < end; ++t) {
        std::tm tm {};
        ::localtime_r(&t, &tm);
        char name[40];
        std::strftime(name, sizeof name, "/R_MESS%Y%m%d%H%M%S.txt", &tm);
        pipes.push_back(reports + name);
        ASSERT_EQ(::mkfifo(pipes.back().c_str(), 0600), 0);
    }
    const pid_t first = Start("kestlin", { "--send", report }, false);
    const bool accepted = WaitForRecord("state=accepted");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(first, SIGKILL);
    Wait(first);
    ASSERT_TRUE(accepted);
    ASSERT_TRUE(smtp.WaitForMessages(1));
    for (const std::string &pipe : pipes)
        fs::remove(pipe);

    EXPECT_EQ(Run({ "--check" }).status, 6);
    const Result recovered = Run({ "--send", report });
    EXPECT_EQ(recovered.status, 6);
    EXPECT_TRUE(Contains(recovered.out, "メールサーバーに受け付けられていました。"))
        << recovered.err;
    ASSERT_EQ(FolderNames(reports).size(), 1u);
    const std::vector<std::string> packed = FolderNames(tempLog);
    ASSERT_EQ(packed.size(), 1u);
    EXPECT_EQ(FolderNames(tempLog + "/" + packed[0]),
              (std::vector<std::string> { "MAIN_TEXT.txt", "report.csv" }));
    EXPECT_TRUE(FolderNames(temp).empty());
    EXPECT_FALSE(fs::exists(record));

    EXPECT_EQ(Run({ "--send", report }).status, 0);
    EXPECT_TRUE(smtp.WaitForMessages(2));
    EXPECT_EQ(smtp.Received().size(), 2u);
}

// No final reply: the server holds it (and the run is ended by SIGTERM) or
// drops the connection. Either way the report may have arrived: exit 4 or,
// at the next start, 6, with the copies kept; never "nothing was sent".
TEST_F(CommandLineTest, LostFinalReplyIsMayHaveBeenSentWithTheCopiesKept)
{
    SmtpServer holding;
    ASSERT_NO_FATAL_FAILURE(UseStalledServer(holding, SmtpOptions::Stall::EndOfData));
    const pid_t first = Start("kestlin", { "--send", report }, false);
    const bool started = WaitForRecord("state=started");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(first, started ? SIGTERM : SIGKILL);
    const Result ended = Wait(first);
    ASSERT_TRUE(started);
    EXPECT_EQ(ended.status, 4);
    EXPECT_TRUE(Contains(ended.err, "届いている可能性があります")) << ended.err;
    EXPECT_TRUE(fs::exists(record));

    Settings(smtp.port(), "report@authority.example.jp");
    const Result told = Run({ "--send", report });
    EXPECT_EQ(told.status, 6);
    EXPECT_TRUE(Contains(told.err, "届いたかどうか分かりません")) << told.err;
    EXPECT_TRUE(Contains(told.err, report)) << told.err;
    std::vector<std::string> kept = FolderNames(temp);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(kept[0].starts_with("UNCONFIRMED_")) << kept[0];
    EXPECT_TRUE(Contains(told.err, temp + "/" + kept[0]));
    EXPECT_TRUE(fs::exists(temp + "/" + kept[0] + "/Temp/report.csv"));
    EXPECT_FALSE(fs::exists(record));
    EXPECT_EQ(smtp.MailCommands(), 0);

    // The whole message read, then the connection closed without a word.
    ScriptedServer dropping({ { Step::Send, "220 drop.test ESMTP\r\n" },
                              { Step::Read },
                              { Step::Send, "250 drop.test\r\n" },
                              { Step::Read },
                              { Step::Send, "250 ok\r\n" },
                              { Step::Read },
                              { Step::Send, "250 ok\r\n" },
                              { Step::Read },
                              { Step::Send, "354 go on\r\n" },
                              { Step::ReadData },
                              { Step::Close } });
    Settings(dropping.port(), "report@authority.example.jp");
    const Result dropped = Run({ "--send", report });
    EXPECT_EQ(dropped.status, 4) << dropped.err;
    EXPECT_TRUE(Contains(dropped.err, "届いたかどうか分かりません")) << dropped.err;
    EXPECT_FALSE(Contains(dropped.err, "何も送信していません"));
    EXPECT_FALSE(fs::exists(record));
}

// Ended while the server keeps it waiting before the message: nothing went,
// nothing stays: by SIGTERM at once, by SIGKILL at the next start, which
// then sends normally. A working folder whose run is gone goes too.
TEST_F(CommandLineTest, EndedBeforeTheMessageSendsNothingAndLeavesNothing)
{
    SmtpServer silent;
    ASSERT_NO_FATAL_FAILURE(UseStalledServer(silent, SmtpOptions::Stall::Greeting));
    for (const int sig : { SIGTERM, SIGKILL }) {
        const pid_t run = Start("kestlin", { "--send", report }, false);
        const bool prepared = WaitForRecord("state=prepared");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::kill(run, prepared ? sig : SIGKILL);
        const Result ended = Wait(run);
        ASSERT_TRUE(prepared);
        if (sig == SIGTERM) {
            EXPECT_EQ(ended.status, 3);
            EXPECT_TRUE(Contains(ended.err, "何も送信していません"));
            EXPECT_TRUE(FolderNames(temp).empty());
            EXPECT_TRUE(FolderNames(tempLog).empty());
            EXPECT_FALSE(fs::exists(record));
        }
    }
    fs::create_directories(temp + "/WorkSpace7/Temp");
    WriteFile(temp + "/WorkSpace7/Temp/MAIN_TEXT.txt", "secret");
    WriteFile(temp + "/WorkSpace7/.owner", dir / "ended.lock");

    Settings(smtp.port(), "report@authority.example.jp");
    const Result sent = Run({ "--send", report });
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_TRUE(FolderNames(temp).empty());
    EXPECT_EQ(FolderNames(tempLog).size(), 1u);
    EXPECT_TRUE(smtp.WaitForMessages(1));
}

// The attachment log cannot be written: the submission log still is, the
// copies stay, and the next start completes the attachment log.
TEST_F(CommandLineTest, ReadOnlyAttachmentLogKeepsTheCopiesUntilItCanBeWritten)
{
    ::chmod(tempLog.c_str(), 0555);
    const Result r = Run({ "--send", report }, "kestlin", false, false, true);
    ::chmod(tempLog.c_str(), 0755);
    if (r.status == 126)
        GTEST_SKIP() << "root cannot give up its capabilities here";
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(Contains(r.err, "添付ﾌｧｲﾙLOG: ")) << r.err;
    EXPECT_TRUE(Contains(r.err, temp + "/WorkSpace")) << r.err;
    EXPECT_EQ(FolderNames(log + "/SEKIYU_REPORT").size(), 1u);
    ASSERT_TRUE(smtp.WaitForMessages(1));

    // The window at its start finishes it, the same as a send would.
    const Result window = Run({ "start" }, "kestlin_probe", true);
    EXPECT_TRUE(Contains(window.out, "メールサーバーに受け付けられていました。")) << window.out;
    const std::vector<std::string> packed = FolderNames(tempLog);
    ASSERT_EQ(packed.size(), 1u);
    EXPECT_EQ(FolderNames(tempLog + "/" + packed[0]),
              (std::vector<std::string> { "MAIN_TEXT.txt", "report.csv" }));
    EXPECT_EQ(FolderNames(log + "/SEKIYU_REPORT").size(), 1u);
    EXPECT_TRUE(FolderNames(temp).empty());
    EXPECT_EQ(smtp.Received().size(), 1u);
}

// Two settings files, the same log folders, both sent at once: each
// submission keeps its own attachment name, submission log and copies.
TEST_F(CommandLineTest, SubmissionsOfOneSecondKeepTheirOwnNames)
{
    const std::string other = dir / "other";
    fs::create_directories(other);
    Settings(smtp.port(), "report@authority.example.jp", "0", other + "/Kestlin.INI");
    const pid_t a = Start("kestlin", { "--send", report }, false);
    const pid_t b
        = Start("kestlin", { "--settings", other + "/Kestlin.INI", "--send", report }, false);
    const Result ra = Wait(a), rb = Wait(b);
    EXPECT_EQ(ra.status, 0) << ra.err;
    EXPECT_EQ(rb.status, 0) << rb.err;
    ASSERT_TRUE(smtp.WaitForMessages(2));
    std::set<std::string> names;
    for (const ReceivedMail &mail : smtp.Received())
        names.insert(ParseWithPython(mail.path).Get("attachment_name"));
    EXPECT_EQ(names.size(), 2u);
    EXPECT_EQ(FolderNames(log + "/SEKIYU_REPORT").size(), 2u);
    const std::vector<std::string> packed = FolderNames(tempLog);
    ASSERT_EQ(packed.size(), 2u);
    for (const std::string &folder : packed)
        EXPECT_EQ(FolderNames(tempLog + "/" + folder).size(), 2u) << folder;
}

// Signing in with OAuth 2.0 against the test identity provider: an SMTP
// server that takes XOAUTH2 only, with a live token of that provider.
class OAuthCommandLineTest : public CommandLineTest
{
protected:
    void SetUp() override
    {
        CommandLineTest::SetUp();
        std::string reason;
        ASSERT_TRUE(idp.Start(IdentityOptions {}, reason)) << reason;
        SmtpOptions options;
        options.mechanisms = { "XOAUTH2" };
        options.startTls = true;
        options.oauthTokens = idp.TokensFile();
        ASSERT_TRUE(smtp.Start(options, reason)) << reason;
        Settings(smtp.port(), "report@authority.example.jp", "5");
        WriteFile(ini, ReadFile(ini) + "[OAUTH]\r\nPROVIDER=custom\r\nCLIENTID=kestlin-test\r\n"
                           + "DEVICEURL=" + idp.Url("/devicecode")
                           + "\r\nTOKENURL=" + idp.Url("/token") + "\r\nSCOPE=smtp\r\n");
        // The administrator has pinned the test server's key.
        const std::string pin = "openssl x509 -in '" + smtp.folder()
                                + "/cert.pem' -pubkey -noout | openssl pkey -pubin -outform der"
                                  " | openssl dgst -sha256 -binary | base64 > '"
                                + (dir / "pin") + "'";
        ASSERT_EQ(std::system(pin.c_str()), 0);
        std::string key = ReadFile(dir / "pin");
        key.erase(key.find_last_not_of('\n') + 1);
        WriteFile(bin + "/known-servers.txt",
                  "127.0.0.1:" + std::to_string(smtp.port()) + " sha256//" + key + "\n");
    }

    std::string StoredRefreshToken() const
    {
        const std::string text = ReadFile(bin + "/oauth-token.json");
        std::smatch token;
        return std::regex_search(text, token, std::regex("\"refresh_token\": \"([^\"]+)\""))
                   ? token[1].str()
                   : std::string();
    }

    IdentityProvider idp;
};

TEST_F(OAuthCommandLineTest, AuthorizesOnceAndSendsWithAFreshToken)
{
    const Result unauthorized = Run({ "--check" });
    EXPECT_EQ(unauthorized.status, 2);
    EXPECT_TRUE(Contains(unauthorized.err, "kestlin --authorize")) << unauthorized.err;

    const Result authorized = Run({ "--authorize" });
    ASSERT_EQ(authorized.status, 0) << authorized.err;
    EXPECT_TRUE(Contains(authorized.out, idp.Url("/device"))) << authorized.out;
    EXPECT_TRUE(Contains(authorized.out, "KEST-LIN1"));
    EXPECT_EQ(ModeOf(bin + "/oauth-token.json") & 0777, 0600u);
    const std::string refresh = StoredRefreshToken();
    ASSERT_FALSE(refresh.empty());
    EXPECT_FALSE(Contains(ReadFile(ini), refresh));
    EXPECT_EQ(Run({ "--check" }).status, 0);

    const Result sent = Run({ "--send", report });
    EXPECT_EQ(sent.status, 0) << sent.err;
    ASSERT_TRUE(smtp.WaitForMessages(1));
    EXPECT_EQ(smtp.Received().at(0).mechanism, "XOAUTH2");
    EXPECT_TRUE(smtp.Received().at(0).tls);
}

// The access token of the last mailing has expired: the next one refreshes,
// keeps the rotated refresh token, and the old one is dead at the provider.
TEST_F(OAuthCommandLineTest, RefreshesAnExpiredTokenAndKeepsTheRotatedOne)
{
    ASSERT_EQ(Run({ "--authorize" }).status, 0);
    const std::string first = StoredRefreshToken();
    ASSERT_TRUE(idp.Control("expire"));

    const Result sent = Run({ "--send", report });
    EXPECT_EQ(sent.status, 0) << sent.err;
    const std::vector<std::string> requests = idp.Requests();
    EXPECT_EQ(requests.back(), "/token refresh_token");
    EXPECT_NE(StoredRefreshToken(), first);
    EXPECT_FALSE(StoredRefreshToken().empty());
    ASSERT_TRUE(smtp.WaitForMessages(1));
    EXPECT_EQ(smtp.Received().at(0).mechanism, "XOAUTH2");
}

// A revoked grant stops the mailing step before the server hears a word, and
// says how to authorize again; no token reaches the output or the error log.
TEST_F(OAuthCommandLineTest, RevokedGrantFailsBeforeMailing)
{
    ASSERT_EQ(Run({ "--authorize" }).status, 0);
    const std::string refresh = StoredRefreshToken();
    ASSERT_TRUE(idp.Control("revoke"));

    const Result failed = Run({ "--send", report });
    EXPECT_EQ(failed.status, 3);
    EXPECT_TRUE(Contains(failed.err, "（FncSendMail）")) << failed.err;
    EXPECT_TRUE(Contains(failed.err, "kestlin --authorize")) << failed.err;
    EXPECT_TRUE(Contains(failed.err, "invalid_grant")) << failed.err;
    EXPECT_FALSE(Contains(failed.err + failed.out, refresh));
    EXPECT_EQ(smtp.MailCommands(), 0);
    const std::vector<std::string> logs = ErrorLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_FALSE(Contains(logs[0], refresh));
}

TEST_F(OAuthCommandLineTest, RefusedAuthorizationExitsWithTheServersReason)
{
    std::string reason;
    IdentityOptions deny;
    deny.deny = true;
    ASSERT_TRUE(idp.Start(deny, reason)) << reason;
    WriteFile(ini, std::regex_replace(ReadFile(ini), std::regex("http://127\\.0\\.0\\.1:[0-9]+/"),
                                      idp.Url("/")));
    const Result refused = Run({ "--authorize" });
    EXPECT_EQ(refused.status, 3);
    EXPECT_TRUE(Contains(refused.err, "access_denied")) << refused.err;
    EXPECT_FALSE(fs::exists(bin + "/oauth-token.json"));
}

TEST(Terminal, AnswersEveryQuestionNoAtOnceAndRedrawsOneLine)
{
    char *outText = nullptr, *errText = nullptr;
    size_t outSize = 0, errSize = 0;
    std::FILE *out = ::open_memstream(&outText, &outSize);
    std::FILE *err = ::open_memstream(&errText, &errSize);
    Terminal terminal(out, err, true);
    terminal.StepStarted("FncEncrypt", "暗号化中…");
    terminal.BytesDone(512, 1024);
    terminal.BytesDone(700, 1024); // too soon after the last redraw
    EXPECT_EQ(
        terminal.ShowMessage("信頼しますか？\r\n指紋", "", MsgIcon::Question, MsgButtons::YesNo),
        MsgResult::No);
    std::fclose(out);
    std::fclose(err);
    EXPECT_EQ(std::string(outText, outSize), "\r\033[K(1/9) 暗号化中…\r\033[K(1/9) 暗号化中…  50% "
                                             "(0.5 KiB / 1.0 KiB)\r\033[K");
    EXPECT_TRUE(std::string(errText, errSize).starts_with("信頼しますか？\n指紋\n"));
    std::free(outText);
    std::free(errText);
}

} // namespace
} // namespace kestlin::test
