// The progress window and the hand-over from the window to the worker thread:
// every message on the window's thread, in order, the list touched only there.
#include "SendTestSupport.h"

#ifdef KESTLIN_HAVE_TEST_SERVERS
#include "MailServers.h"
#endif

#include "startup/SendRunner.h"
#include "startup/frmKestlin_01.h"
#include "startup/frmProgress.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace kestlin::test {
namespace {

namespace fs = std::filesystem;

QApplication &App()
{
    // The tests draw nothing: without a display they still run.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "kestlin_send_ui_tests";
    static char *argv[] = { name, nullptr };
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

frmProgress *VisibleProgressWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "frmProgress" && w->isVisible())
            return static_cast<frmProgress *>(w);
    }
    return nullptr;
}

// Records, with every message, where it was shown from.
class WatchingDisplay : public RecordingDisplay
{
public:
    MsgResult ShowMessage(const std::string &text, const std::string &title, MsgIcon icon,
                          MsgButtons buttons) override
    {
        onGuiThread.push_back(QThread::currentThread() == App().thread());
        const frmProgress *progress = VisibleProgressWindow();
        progressVisible.push_back(progress != nullptr);
        stepShown.push_back(progress ? progress->StepText().toStdString() : "");
        return RecordingDisplay::ShowMessage(text, title, icon, buttons);
    }
    std::vector<bool> onGuiThread;
    std::vector<bool> progressVisible;
    std::vector<std::string> stepShown; // the progress window's step at each message
};

TEST(frmProgress, NamesTheStepAndBytesAndCannotBeClosedUntilTheWorkEnds)
{
    App();
    frmProgress window;
    window.show();
    EXPECT_TRUE(window.findChildren<QAbstractButton *>().isEmpty());
    EXPECT_EQ(window.cursor().shape(), Qt::WaitCursor);
    EXPECT_TRUE(window.isModal());

    window.SetStep(QString::fromUtf8("送信中…"));
    window.SetBytes(512, 3 * 1024 * 1024 * 1024LL);
    EXPECT_EQ(window.StepText(), QString::fromUtf8("送信中…"));
    EXPECT_EQ(window.BytesText(), QString::fromUtf8("512 / 3,221,225,472 バイト"));
    window.SetStep(QString::fromUtf8("圧縮中…"));
    EXPECT_EQ(window.BytesText(), "");

    window.reject(); // Esc
    EXPECT_TRUE(window.isVisible());
    window.close(); // the window manager's close
    EXPECT_TRUE(window.isVisible());
    window.Finish();
    EXPECT_FALSE(window.isVisible());
}

class SendUiTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { App(); }
    void SetUp() override
    {
        RemoveErrLogs();
        ResetDocumentsFolder();
        auto *layout = new QVBoxLayout(&owner);
        layout->addWidget(lstFile);
        layout->addWidget(cmdAdd);
        for (const char *name : { "a.csv", "b.csv" }) {
            WriteFile(dir / name, name);
            lstFile->addItem(QString::fromStdString(dir / name));
        }
        parts.owner = &owner;
        parts.list = lstFile;
        parts.addButton = cmdAdd;
        parts.display = &display;
        parts.iniFilePath = dir / "Kestlin.INI";
        parts.strWorkSpace = &strWorkSpace;
        parts.strSendFile = &strSendFile;
        owner.show();
    }
    void TearDown() override { RemoveErrLogs(); }

    // Settings for a whole submission to the given server, logging into log.
    void WriteSubmissionSettings(const SmtpServer &smtp, const std::string &log)
    {
        WriteIniByHand(
            parts.iniFilePath,
            { { "USER",
                { { "USERID", "U01" },
                  { "PASSWORD", Stored("pw") },
                  { "MAILADRESS", "reply@example.jp" } } },
              { "MAIL",
                { { "SMTP", "127.0.0.1" },
                  { "PORT", std::to_string(smtp.port()) },
                  { "MAILADRESS", "report@example.jp" } } },
              { "SYSTEM",
                { { "TEMP", dir.path() }, { "TEMPLOG", dir.path() }, { "LOG", log } } } });
    }

    TempDir dir;
    QWidget owner;
    QListWidget *lstFile = new QListWidget(&owner);
    QPushButton *cmdAdd = new QPushButton(&owner);
    WatchingDisplay display;
    std::string strWorkSpace = "earlier";
    std::string strSendFile = "TMPearlier.txt";
    SendWindowParts parts;
};

TEST_F(SendUiTest, FailedStepIsShownOnTheWindowsThreadAfterTheProgressWindowCloses)
{
    WriteIniByHand(parts.iniFilePath, { { "SYSTEM", { { "TEMP", dir / "no-such-folder" } } } });

    RunSendWithProgress(parts);

    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "作業ﾌｫﾙﾀﾞの指定に誤りがあります｡\r\n"
                                        "設定ﾌｧｲﾙの作業フォルダを確認してください。");
    EXPECT_EQ(display.onGuiThread, (std::vector<bool> { true }));
    EXPECT_EQ(display.progressVisible, (std::vector<bool> { false }));
    EXPECT_EQ(display.cursorChanges, (std::vector<bool> { true, false }));
    EXPECT_EQ(lstFile->count(), 2);
    EXPECT_EQ(strWorkSpace, "") << "the window's member follows the step";
    EXPECT_EQ(OnlyErrLog().find("FncCrtWorkSpace"), OnlyErrLog().size() - 17);
}

TEST_F(SendUiTest, RefusedListNeverStartsTheWorker)
{
    fs::remove(dir / "b.csv");
    WriteIniByHand(parts.iniFilePath, { { "SYSTEM", { { "TEMP", dir.path() } } } });

    RunSendWithProgress(parts);

    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.progressVisible, (std::vector<bool> { false }));
    EXPECT_FALSE(lstFile->item(0)->isSelected());
    EXPECT_TRUE(lstFile->item(1)->isSelected());
    EXPECT_EQ(strWorkSpace, "earlier");
    EXPECT_FALSE(fs::exists(dir / "WorkSpace"));
}

TEST_F(SendUiTest, SendButtonOfTheMainWindowRunsTheSubmissionOnItsMembers)
{
    WriteIniByHand(parts.iniFilePath, { { "SYSTEM", { { "TEMP", dir / "no-such-folder" } } } });
    WatchingDisplay windowDisplay;
    frmKestlin_01 window(windowDisplay, parts.iniFilePath);
    window.lstFile()->addItem(QString::fromStdString(dir / "a.csv"));
    window.strWorkSpace = "earlier";

    window.cmdSend()->click();

    ASSERT_EQ(windowDisplay.messages.size(), 1u);
    EXPECT_EQ(windowDisplay.messages[0].text.rfind("作業ﾌｫﾙﾀﾞの指定に誤りがあります｡", 0), 0u);
    EXPECT_EQ(window.lstFile()->count(), 1);
    EXPECT_EQ(window.strWorkSpace, "");
    EXPECT_TRUE(display.messages.empty());
}

#ifdef KESTLIN_HAVE_TEST_SERVERS
TEST_F(SendUiTest, StepNoticeComesFromTheWorkerBeforeTheSuccessMessage)
{
    SmtpServer smtp;
    std::string reason;
    ASSERT_TRUE(smtp.Start(SmtpOptions {}, reason)) << reason;
    WriteSubmissionSettings(smtp, dir / "no-such-log");
    owner.setFocus();

    RunSendWithProgress(parts);

    // The notice of the log step, shown while the progress window names that
    // step, then the success message once the window has gone.
    ASSERT_EQ(display.messages.size(), 2u) << display.messages[0].text;
    EXPECT_EQ(display.messages[0].text.rfind("ﾛｸﾞﾌｧｲﾙを出力するﾌｫﾙﾀﾞ", 0), 0u);
    EXPECT_EQ(display.messages[1].text.rfind("石油動態報告メッセージは、「", 0), 0u);
    EXPECT_EQ(display.onGuiThread, (std::vector<bool> { true, true }));
    EXPECT_EQ(display.progressVisible, (std::vector<bool> { true, false }));
    EXPECT_EQ(display.stepShown[0], "送信LOG作成中…");
    EXPECT_EQ(display.cursorChanges, (std::vector<bool> { true, false }));
    EXPECT_EQ(lstFile->count(), 0);
    EXPECT_EQ(owner.focusWidget(), cmdAdd);
    EXPECT_EQ(strWorkSpace, dir / "WorkSpace");
    EXPECT_EQ(strSendFile.rfind("TMPU01", 0), 0u);
    EXPECT_TRUE(smtp.WaitForMessages(1));
}

// While the message goes over a slow line, the progress window names the mail
// step and shows the bytes of the message out of its whole size.
TEST_F(SendUiTest, ProgressWindowShowsTheBytesOfTheMessageWhileMailing)
{
    SmtpOptions options;
    options.throttleBytesPerSecond = 1 << 20;
    SmtpServer smtp;
    std::string reason;
    ASSERT_TRUE(smtp.Start(options, reason)) << reason;
    WriteSubmissionSettings(smtp, dir.path());
    // Random bytes: the archive stays as large, the mail takes most of a second.
    std::mt19937 generator(11);
    std::string bytes(640 << 10, '\0');
    for (char &b : bytes)
        b = static_cast<char>(generator());
    WriteFile(dir / "a.csv", bytes);

    std::vector<QString> shown;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const frmProgress *progress = VisibleProgressWindow();
        if (progress && progress->StepText() == QString::fromUtf8("送信中…"))
            shown.push_back(progress->BytesText());
    });
    sampler.start(10);
    RunSendWithProgress(parts);
    sampler.stop();

    ASSERT_EQ(display.messages.size(), 1u);
    ASSERT_TRUE(smtp.WaitForMessages(1));
    const QString total
        = FormatBytes(0, static_cast<qint64>(smtp.Received().at(0).raw.size())).section(" / ", 1);
    bool sawBytes = false;
    for (const QString &text : shown)
        sawBytes = sawBytes || text.endsWith(" / " + total);
    EXPECT_TRUE(sawBytes) << "samples: " << shown.size() << ", last: "
                          << (shown.empty() ? std::string() : shown.back().toStdString());
}
#endif

} // namespace
} // namespace kestlin::test
