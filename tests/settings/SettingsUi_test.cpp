#include "QtTestApp.h"
#include "common/Display.h"
#include "common/files.h"
#include "settings/SettingsUi.h"
#include "settings/frmIniFile.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestlin;
using kestlin::test::RecordingDisplay;
using kestlin::test::TempDir;
using kestlin::test::WhenModal;

namespace {

void Click(QWidget *dialog, const char *button)
{
    auto *b = dialog->findChild<QPushButton *>(button);
    ASSERT_NE(b, nullptr) << button;
    b->click();
}

// Every dialog of the program that is on screen now.
int OpenDialogs()
{
    int open = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        open
            += w->isVisible() && (w->objectName() == "frmIniFile" || w->objectName() == "frmAbout");
    return open;
}

} // namespace

TEST(FirstRun, ExistingSettingsFileAsksNothing)
{
    TempDir dir;
    kestlin::test::WriteFile(dir / "Kestlin.INI", "[USER]\r\n");
    RecordingDisplay display;
    EXPECT_TRUE(FirstRunCheck(nullptr, display, dir / "Kestlin.INI"));
    EXPECT_TRUE(display.messages.empty());
}

TEST(FirstRun, NoEndsTheProgramWithoutADialog)
{
    TempDir dir;
    RecordingDisplay display;
    display.answers.push_back(MsgResult::No);
    EXPECT_FALSE(FirstRunCheck(nullptr, display, dir / "Kestlin.INI"));
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "設定ファイルを作成しますか？");
    EXPECT_EQ(display.messages[0].title, kAppTitle);
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Question);
    EXPECT_EQ(display.messages[0].buttons, MsgButtons::YesNo);
}

TEST(FirstRun, YesThenEndLeavesNoFileSoTheMainWindowCloses)
{
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    RecordingDisplay display;
    display.answers.push_back(MsgResult::Yes);
    std::string shown;
    WhenModal([&](QWidget *dialog) {
        shown = dialog->objectName().toStdString();
        Click(dialog, "cmdEnd");
    });
    EXPECT_TRUE(FirstRunCheck(nullptr, display, ini));
    EXPECT_EQ(shown, "frmIniFile");
    EXPECT_FALSE(SettingsFileStillThere(ini));
}

TEST(FirstRun, YesThenSaveKeepsTheMainWindow)
{
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    RecordingDisplay display;
    WhenModal([&](QWidget *dialog) {
        const std::pair<const char *, std::string> fields[]
            = { { "txtUUserId", "U0001" },
                { "txtUPassWord", "secret" },
                { "txtUMailAdress", "reporter@example.co.jp" },
                { "txtMSmtp", "smtp.example.co.jp" },
                { "txtMMailAdress", "houkoku@example.go.jp" },
                { "txtSLog", dir.path() },
                { "txtSTempLog", dir.path() },
                { "txtSTemp", dir.path() } };
        for (const auto &[name, text] : fields)
            dialog->findChild<QLineEdit *>(name)->setText(QString::fromStdString(text));
        Click(dialog, "cmdEstablish");
    });
    EXPECT_TRUE(FirstRunCheck(nullptr, display, ini));
    EXPECT_EQ(display.messages.size(), 1u) << "only the question";
    EXPECT_TRUE(SettingsFileStillThere(ini));

    ::unlink(ini.c_str());
    EXPECT_FALSE(SettingsFileStillThere(ini)) << "a file removed while running is noticed";
}

TEST(ExtraCommands, NoSecondDialogWhileOneIsOpen)
{
    TempDir dir;
    RecordingDisplay display;
    QWidget owner;
    int mostOpen = 0;
    WhenModal([&](QWidget *dialog) {
        // Close whatever is open one turn later: a second dialog, if one
        // opened, would block the calls below until then.
        QTimer::singleShot(0, [&mostOpen, dialog] {
            mostOpen = std::max(mostOpen, OpenDialogs());
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (w->isVisible() && w != dialog && qobject_cast<QDialog *>(w))
                    static_cast<QDialog *>(w)->reject();
            }
            Click(dialog, "cmdEnd");
        });
        ShowSettingsDialog(&owner, display, dir / "Kestlin.INI");
        ShowAboutBox(&owner);
        mostOpen = std::max(mostOpen, OpenDialogs());
    });
    ShowSettingsDialog(&owner, display, dir / "Kestlin.INI");
    EXPECT_EQ(mostOpen, 1);

    // Once closed, the command works again.
    bool reopened = false;
    WhenModal([&](QWidget *dialog) {
        reopened = dialog->objectName() == "frmAbout";
        Click(dialog, "cmdOK");
    });
    ShowAboutBox(&owner);
    EXPECT_TRUE(reopened);
}
