#include "QtTestApp.h"
#include "common/Display.h"
#include "common/basCommon.h"
#include "common/files.h"
#include "common/programfolder.h"
#include "settings/ReportMailbox.h"
#include "settings/SettingsStore.h"
#include "settings/clsIniFile.h"
#include "settings/frmIniFile.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kestlin;
using kestlin::test::PermissionsEnforced;
using kestlin::test::RecordingDisplay;
using kestlin::test::TempDir;

namespace {

constexpr const char *kLoadFailed = "INIﾌｧｲﾙを取得中にｴﾗｰが発生しました。";

class SettingsDialog : public ::testing::Test
{
protected:
    QLineEdit *Edit(const char *name)
    {
        auto *edit = dialog.findChild<QLineEdit *>(name);
        EXPECT_NE(edit, nullptr) << name;
        return edit;
    }
    QRadioButton *Option(const char *name)
    {
        auto *button = dialog.findChild<QRadioButton *>(name);
        EXPECT_NE(button, nullptr) << name;
        return button;
    }
    QPushButton *Button(const char *name, int index = -1)
    {
        for (auto *button : dialog.findChildren<QPushButton *>(name)) {
            if (index < 0 || button->property("index").toInt() == index)
                return button;
        }
        ADD_FAILURE() << name << " " << index;
        return nullptr;
    }
    std::string Text(const char *name) { return Edit(name)->text().toStdString(); }
    void Type(const char *name, const QString &text) { Edit(name)->setText(text); }
    // Fills every field with values that pass the checks.
    void FillValid(bool chooseMethod = true)
    {
        Type("txtUHoukoku", "石油動態報告");
        Type("txtUUserId", "U0001");
        Type("txtUPassWord", "secret");
        Type("txtUMailAdress", "reporter@example.co.jp");
        Type("txtMSmtp", "smtp.example.co.jp");
        Type("txtMPort", "587");
        if (chooseMethod)
            Option("optSAL")->click();
        Type("txtMUserId", "reporter");
        Type("txtMPassWord", "mailpass");
        Type("txtMSubject", "【石油動態報告】");
        Type("txtMMailAdress", "houkoku@example.go.jp");
        for (const char *folder : { "txtSLog", "txtSTempLog", "txtSTemp" })
            Type(folder, QString::fromStdString(dir.path()));
    }
    void SaveSample(const std::string &path)
    {
        frmIniFile writer(nullptr, display, path);
        writer.show();
        // Reuse the public pieces rather than a second copy of the values.
        SettingsValues v = FirstTimeSettings(dir.path(), dir.path());
        v.uUserId = "U0001";
        v.uPassWord = "secret";
        v.uMailAdress = "reporter@example.co.jp";
        v.mSmtp = "smtp.example.co.jp";
        v.mUserId = "reporter";
        v.mPassWord = "mailpass";
        std::string failure;
        ASSERT_TRUE(SaveSettingsFile(path, v, true, failure)) << failure;
        writer.close();
        display.messages.clear();
    }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const auto &m : display.messages)
            texts.push_back(m.text);
        return texts;
    }

    TempDir dir;
    std::string ini = dir / "Kestlin.INI";
    RecordingDisplay display;
    frmIniFile dialog { nullptr, display, ini };
};

} // namespace

TEST_F(SettingsDialog, FirstOpeningShowsTheFirstTimeValues)
{
    dialog.show();
    EXPECT_TRUE(display.messages.empty());
    EXPECT_EQ(Text("txtUHoukoku"), "石油動態報告");
    EXPECT_EQ(Text("txtMPort"), "25");
    EXPECT_EQ(Text("txtMSubject"), "【石油動態報告】");
    EXPECT_EQ(Text("txtMMailAdress"), kReportMailbox);
    EXPECT_EQ(Text("txtSLog"), GetSpecialFolder(kDocumentsFolder));
    EXPECT_EQ(Text("txtSTempLog"), ProgramFolder());
    EXPECT_EQ(Text("txtSTemp"), ProgramFolder());
    for (const char *empty : { "txtUUserId", "txtUPassWord", "txtUMailAdress", "txtMSmtp",
                               "txtMUserId", "txtMPassWord" })
        EXPECT_EQ(Text(empty), "") << empty;
    EXPECT_TRUE(Option("optNon")->isChecked());
    EXPECT_FALSE(Edit("txtMUserId")->isEnabled());
    EXPECT_FALSE(Edit("txtMPassWord")->isEnabled());
    EXPECT_FALSE(NameTaken(ini)) << "opening alone writes nothing";
}

TEST_F(SettingsDialog, ControlsCarryTheirNamesCaptionsAndLimits)
{
    EXPECT_EQ(dialog.objectName(), "frmIniFile");
    EXPECT_EQ(dialog.windowTitle(), "石油動態報告メール送信設定");
    const std::pair<const char *, const char *> frames[] = { { "fraUser", "ユーザー設定" },
                                                             { "fraMail", "メール設定" },
                                                             { "fraSystem", "システム設定" },
                                                             { "fraSmtp", "" },
                                                             { "fraCommand", "" } };
    for (const auto &[name, caption] : frames) {
        auto *frame = dialog.findChild<QGroupBox *>(name);
        ASSERT_NE(frame, nullptr) << name;
        EXPECT_EQ(frame->title().toStdString(), caption);
    }
    const std::pair<const char *, const char *> labels[]
        = { { "lblUHoukoku", "報告ID" },
            { "lblUUserId", "ユーザーID" },
            { "lblUPassWord", "パスワード" },
            { "lblUMailAdress", "返信メールアドレス" },
            { "lblMSmtp", "SMTP" },
            { "lblMPort", "ポート" },
            { "lblMSmtpM", "SMTP認証" },
            { "lblMUserId", "ユーザーID" },
            { "lblMPassWord", "パスワード" },
            { "lblMSubject", "表題" },
            { "lblMMailAdress", "送信メールアドレス" },
            { "lblLog", "LOG" },
            { "Label14", "添付ファイルLOG" },
            { "Label12", "作業ﾌｫﾙﾀﾞ" } };
    for (const auto &[name, caption] : labels) {
        auto *label = dialog.findChild<QLabel *>(name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text().toStdString(), caption);
    }
    const std::pair<const char *, const char *> options[] = { { "optNon", "認証なし" },
                                                              { "optPBS", "POP Before SMTP" },
                                                              { "optSAL", "SMTP Auth LOGIN" },
                                                              { "optSAC", "SMTP AUTH CRAM-MD5" },
                                                              { "optAP", "AUTH PLAIN" } };
    for (const auto &[name, caption] : options) {
        EXPECT_EQ(Option(name)->text().toStdString(), caption);
        EXPECT_FALSE(Option(name)->isChecked()) << "nothing is chosen before loading";
    }
    EXPECT_EQ(Button("cmdEstablish")->text(), "設定");
    EXPECT_EQ(Button("cmdEnd")->text(), "終了");
    EXPECT_EQ(dialog.findChildren<QPushButton *>("cmdDialog").size(), 3);
    for (int index = 0; index < 3; ++index)
        EXPECT_EQ(Button("cmdDialog", index)->text(), "…");

    for (auto *edit : dialog.findChildren<QLineEdit *>()) {
        const int limit = edit->objectName() == "txtMPort" ? 9 : 255;
        EXPECT_EQ(edit->maxLength(), limit) << edit->objectName().toStdString();
    }
    for (const char *name : { "txtUPassWord", "txtMPassWord" }) {
        Edit(name)->setText("pässwörd");
        EXPECT_EQ(Edit(name)->displayText(), "********") << name;
    }
    EXPECT_EQ(Edit("txtUUserId")->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter),
              QApplication::style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter))
        << "only the password fields have their own character";
}

TEST_F(SettingsDialog, TabOrderFollowsTheScreen)
{
    const std::vector<QWidget *> expected
        = { Edit("txtUHoukoku"),    Edit("txtUUserId"),     Edit("txtUPassWord"),
            Edit("txtUMailAdress"), Edit("txtMSmtp"),       Edit("txtMPort"),
            Option("optNon"),       Option("optPBS"),       Option("optSAL"),
            Option("optSAC"),       Option("optAP"),        Edit("txtMUserId"),
            Edit("txtMPassWord"),   Edit("txtMSubject"),    Edit("txtMMailAdress"),
            Edit("txtSLog"),        Button("cmdDialog", 0), Edit("txtSTempLog"),
            Button("cmdDialog", 1), Edit("txtSTemp"),       Button("cmdDialog", 2),
            Button("cmdEstablish"), Button("cmdEnd") };
    std::vector<QWidget *> chain;
    QWidget *w = expected.front();
    do {
        if (std::find(expected.begin(), expected.end(), w) != expected.end())
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != expected.front() && chain.size() <= expected.size());
    EXPECT_EQ(chain, expected);
}

TEST_F(SettingsDialog, PortTakesOnlyDigitsAndFallsBackTo25)
{
    dialog.show();
    QLineEdit *port = Edit("txtMPort");
    port->selectAll();
    QTest::keyClicks(port, "8a0-8.0 x");
    EXPECT_EQ(port->text(), "8080") << "keys that are not digits never arrive";
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(port, Qt::Key_Backspace);
    EXPECT_EQ(port->text(), "8");
    QTest::keyClick(port, Qt::Key_Backspace);
    EXPECT_EQ(port->text(), "25") << "an empty port becomes 25 at once";

    QApplication::clipboard()->setText("4a");
    port->selectAll();
    QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(port->text(), "25") << "pasting goes through, and a non-number becomes 25";
    QApplication::clipboard()->setText("465");
    port->selectAll();
    port->paste();
    EXPECT_EQ(port->text(), "465");
    for (const char *notPort : { "-1", "１２", " 25", "2.5" }) {
        port->setText(QString::fromUtf8(notPort));
        EXPECT_EQ(port->text(), "25") << notPort;
    }
}

TEST_F(SettingsDialog, FullWidthDigitsOfTheInputMethodBecomeDigits)
{
    dialog.show();
    QLineEdit *port = Edit("txtMPort");
    port->setText("1");
    for (const char *committed : { "５８７", "２ポ５" }) {
        QInputMethodEvent commit;
        commit.setCommitString(QString::fromUtf8(committed));
        QApplication::sendEvent(port, &commit);
    }
    QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("０"));
    QApplication::sendEvent(port, &key);
    EXPECT_EQ(port->text(), "1587250") << "other characters are still dropped";
}

TEST_F(SettingsDialog, LongStoredPortIsShownWholeAndTypingCannotLengthenIt)
{
    SaveSample(ini);
    ASSERT_TRUE(clsIniFile().WriteIniValue("1234567890123", "MAIL", "PORT", ini));
    dialog.show();
    QLineEdit *port = Edit("txtMPort");
    QTest::keyClicks(port, "4");
    EXPECT_EQ(port->text(), "1234567890123");
    port->selectAll();
    QTest::keyClicks(port, "98765432109");
    EXPECT_EQ(port->text(), "987654321") << "typing keeps its limit of nine";
}

TEST_F(SettingsDialog, EnterPressesTheFocusedButtonOnlyAndEscapeKeepsTheDialog)
{
    dialog.show();
    FillValid();
    for (QWidget *target : std::initializer_list<QWidget *> { Edit("txtMSubject"), &dialog }) {
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Escape);
    }
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(NameTaken(ini));
    EXPECT_EQ(Text("txtMSubject"), "【石油動態報告】") << "what was typed is kept";
    QTest::keyClick(Button("cmdEstablish"), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(NameTaken(ini));
}

TEST_F(SettingsDialog, RunTimeFailureOfTheCheckIsShownAndNothingIsSaved)
{
    struct FailingCheck : frmIniFile
    {
        using frmIniFile::frmIniFile;
        std::optional<SettingsCheckFailure> CheckValues(const SettingsValues &) const override
        {
            throw std::runtime_error("check failed");
        }
    } failing(nullptr, display, ini);
    failing.show();
    failing.findChild<QPushButton *>("cmdEstablish")->click();
    EXPECT_EQ(Messages(), std::vector<std::string> { "check failed" });
    EXPECT_TRUE(failing.isVisible());
    EXPECT_FALSE(NameTaken(ini));
}

TEST_F(SettingsDialog, PastedLineBreaksNeverReachAField)
{
    // A line break stored in the settings file would start a line of its own there.
    dialog.show();
    QApplication::clipboard()->setText("smtp.example.co.jp\r\n[SYSTEM]\r\nTEMP=/");
    Edit("txtMSmtp")->paste();
    EXPECT_EQ(Text("txtMSmtp"), "smtp.example.co.jp");
    QApplication::clipboard()->setText("587\n9");
    Edit("txtMPort")->selectAll();
    Edit("txtMPort")->paste();
    EXPECT_EQ(Text("txtMPort"), "587");
    Type("txtMSubject", "first\nsecond");
    EXPECT_EQ(Text("txtMSubject"), "first");
}

TEST_F(SettingsDialog, MethodChoiceSwitchesTheAccountFieldsButKeepsTheirTexts)
{
    dialog.show();
    Option("optPBS")->click();
    EXPECT_TRUE(Edit("txtMUserId")->isEnabled());
    EXPECT_TRUE(Edit("txtMPassWord")->isEnabled());
    Type("txtMUserId", "reporter");
    Type("txtMPassWord", "mailpass");
    Option("optNon")->click();
    EXPECT_FALSE(Edit("txtMUserId")->isEnabled());
    EXPECT_FALSE(Edit("txtMPassWord")->isEnabled());

    FillValid();
    Option("optNon")->click();
    Button("cmdEstablish")->click();
    ASSERT_TRUE(display.messages.empty()) << display.messages.front().text;
    clsIniFile ini_;
    EXPECT_EQ(ini_.GetValue(ini, "MAIL", "USERID"), "reporter") << "a disabled field is saved";
    EXPECT_NE(ini_.GetValue(ini, "MAIL", "PASSWORD"), "");
    EXPECT_EQ(ini_.GetValue(ini, "MAIL", "CERTIFY"), "0");
}

// With OAuth 2.0 a token takes the password's place: the provider and the
// client ID are saved instead, and 「認可」 says what is missing before it
// goes anywhere.
TEST_F(SettingsDialog, OAuthChoiceTakesTheProviderAndClientInsteadOfThePassword)
{
    dialog.show();
    FillValid();
    Option("optOAuth")->click();
    auto *provider = dialog.findChild<QComboBox *>("cboOProvider");
    ASSERT_NE(provider, nullptr);
    EXPECT_TRUE(provider->isEnabled());
    EXPECT_FALSE(Edit("txtMPassWord")->isEnabled());
    Type("txtOClientId", "");
    Button("cmdAuthorize")->click();
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_NE(display.messages[0].text.find("CLIENTID"), std::string::npos);

    provider->setCurrentIndex(provider->findData("google"));
    Type("txtOClientId", "client-1");
    Type("txtMPassWord", "");
    display.messages.clear();
    Button("cmdEstablish")->click();
    ASSERT_TRUE(display.messages.empty()) << display.messages.front().text;
    clsIniFile reader;
    EXPECT_EQ(reader.GetValue(ini, "MAIL", "CERTIFY"), "5");
    EXPECT_EQ(reader.GetValue(ini, "OAUTH", "PROVIDER"), "google");
    EXPECT_EQ(reader.GetValue(ini, "OAUTH", "CLIENTID"), "client-1");

    frmIniFile again(nullptr, display, ini);
    again.show();
    EXPECT_TRUE(again.findChild<QRadioButton *>("optOAuth")->isChecked());
    EXPECT_EQ(again.findChild<QComboBox *>("cboOProvider")->currentData().toString(), "google");
}

TEST_F(SettingsDialog, SaveClosesAndTheNextOpeningReadsTheFile)
{
    dialog.show();
    FillValid();
    Button("cmdEstablish")->click();
    EXPECT_TRUE(display.messages.empty());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    frmIniFile again(nullptr, display, ini);
    again.show();
    EXPECT_TRUE(display.messages.empty());
    const auto text = [&](const char *name) {
        return again.findChild<QLineEdit *>(name)->text().toStdString();
    };
    EXPECT_EQ(text("txtUPassWord"), "secret");
    EXPECT_EQ(text("txtMPassWord"), "mailpass");
    EXPECT_EQ(text("txtMPort"), "587");
    EXPECT_EQ(text("txtSTemp"), dir.path());
    EXPECT_TRUE(again.findChild<QRadioButton *>("optSAL")->isChecked());
    EXPECT_TRUE(again.findChild<QLineEdit *>("txtMUserId")->isEnabled());
}

TEST_F(SettingsDialog, StoredMethodSevenMeansNone)
{
    SaveSample(ini);
    ASSERT_TRUE(clsIniFile().WriteIniValue("7", "MAIL", "CERTIFY", ini));
    dialog.show();
    EXPECT_TRUE(display.messages.empty());
    EXPECT_TRUE(Option("optNon")->isChecked());
    EXPECT_FALSE(Edit("txtMUserId")->isEnabled());
    EXPECT_EQ(Text("txtMUserId"), "reporter");
}

TEST_F(SettingsDialog, MethodThatIsNotANumberStopsTheLoadWithTwoMessages)
{
    SaveSample(ini);
    ASSERT_TRUE(clsIniFile().WriteIniValue("abc", "MAIL", "CERTIFY", ini));
    dialog.show();
    EXPECT_EQ(Messages(), (std::vector<std::string> { "型が一致しません。", kLoadFailed }));
    for (const auto &m : display.messages) {
        EXPECT_EQ(m.title, kAppTitle);
        EXPECT_EQ(m.icon, MsgIcon::Exclamation);
    }
    EXPECT_EQ(Text("txtUHoukoku"), "石油動態報告");
    EXPECT_EQ(Text("txtMPassWord"), "mailpass");
    EXPECT_EQ(Text("txtMSubject"), "");
    EXPECT_EQ(Text("txtSTemp"), "");
    EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open";

    // With no method chosen, validation points at the first option.
    FillValid(false);
    for (QRadioButton *option : dialog.findChildren<QRadioButton *>())
        EXPECT_FALSE(option->isChecked());
    display.messages.clear();
    Button("cmdEstablish")->click();
    EXPECT_EQ(Messages(), std::vector<std::string> { "SMTPサーバーの認証方法が未入力です。" });
    EXPECT_EQ(dialog.focusWidget(), Option("optNon"));
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(SettingsDialog, UndecryptableUserPasswordLeavesTheRestEmpty)
{
    SaveSample(ini);
    ASSERT_TRUE(clsIniFile().WriteIniValue("garbage", "USER", "PASSWORD", ini));
    dialog.show();
    EXPECT_EQ(Messages(), std::vector<std::string> { kLoadFailed });
    EXPECT_EQ(Text("txtUUserId"), "U0001");
    EXPECT_EQ(Text("txtUPassWord"), "");
    EXPECT_EQ(Text("txtMSmtp"), "");
    EXPECT_EQ(Text("txtMPort"), "25");
}

TEST_F(SettingsDialog, ValidationFailureShowsItsMessageAndFocusesTheField)
{
    dialog.show();
    FillValid();
    Type("txtMSubject", QString(128, QChar(0x8868))); // 128 x "表": 256 bytes
    Button("cmdEstablish")->click();
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "ﾒｰﾙ設定の表題が入力文字数をオーバーしています");
    EXPECT_EQ(display.messages[0].title, kAppTitle);
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(dialog.focusWidget(), Edit("txtMSubject"));
    EXPECT_EQ(Edit("txtMSubject")->text().size(), 128) << "the user's entry is kept";
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(NameTaken(ini));

    display.messages.clear();
    Type("txtMSubject", "subject");
    Type("txtUUserId", "   ");
    Button("cmdEstablish")->click();
    EXPECT_EQ(Messages(), std::vector<std::string> { "USER設定のユーザーIDが未入力です。" });
    EXPECT_EQ(dialog.focusWidget(), Edit("txtUUserId"));
}

TEST_F(SettingsDialog, FailedSaveShowsTheReasonAndStaysOpen)
{
    const std::string folder = dir / "locked";
    ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
    frmIniFile locked(nullptr, display, folder + "/Kestlin.INI");
    locked.show();
    for (auto *edit : locked.findChildren<QLineEdit *>())
        edit->setText(edit->objectName() == "txtMPort"   ? "25"
                      : edit->objectName() == "txtMSmtp" ? "smtp.example.co.jp"
                                                         : "x@y");
    for (const char *name : { "txtSLog", "txtSTempLog", "txtSTemp" })
        locked.findChild<QLineEdit *>(name)->setText(QString::fromStdString(dir.path()));
    {
        PermissionsEnforced enforced;
        locked.findChild<QPushButton *>("cmdEstablish")->click();
    }
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_TRUE(display.messages[0].text.starts_with("WriteValueString INIﾌｧｲﾙ書込みｴﾗｰ。 "))
        << display.messages[0].text;
    EXPECT_TRUE(locked.isVisible());
    EXPECT_FALSE(NameTaken(folder + "/Kestlin.INI"));
}

TEST_F(SettingsDialog, EndClosesWithoutSaving)
{
    dialog.show();
    FillValid();
    Button("cmdEnd")->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(NameTaken(ini));
    EXPECT_TRUE(display.messages.empty());
}

TEST_F(SettingsDialog, FolderButtonsFillTheirRowUnlessCancelled)
{
    dialog.show();
    const std::string before = Text("txtSLog");
    Button("cmdDialog", 0)->click(); // nothing queued: cancelled
    EXPECT_EQ(Text("txtSLog"), before);
    display.chosenPaths.push_back(dir / "chosen");
    Button("cmdDialog", 1)->click();
    EXPECT_EQ(Text("txtSTempLog"), dir / "chosen");
    display.chosenPaths.push_back(std::string("/srv/work\0\0\0", 12));
    Button("cmdDialog", 2)->click();
    EXPECT_EQ(Text("txtSTemp"), "/srv/work");
    EXPECT_EQ(display.chooserTitles,
              (std::vector<std::string> { "フォルダの選択", "フォルダの選択", "フォルダの選択" }));
}
