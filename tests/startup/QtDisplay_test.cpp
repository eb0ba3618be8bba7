#include "common/QtDisplay.h"

#include "QtTestApp.h"

#include "support/TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <functional>

namespace kestlin {
namespace {

struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

// Looks at the message box once it is up, then presses the button with that caption.
SeenBox WhileShown(const QString &press, const std::function<void()> &show)
{
    SeenBox seen;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = { box->windowTitle(), box->text(), box->icon(), {} };
        for (QAbstractButton *button : box->buttons()) {
            seen.buttons.append(button->text());
            if (button->text() == press)
                button->click();
        }
    });
    show();
    return seen;
}

TEST(QtDisplayTest, MessageBoxCarriesTitleIconTextAndOkButton)
{
    QtDisplay display;
    MsgResult result = MsgResult::No;
    SeenBox seen = WhileShown("OK", [&] {
        result = display.ShowMessage("一行目\r\n二行目", "Error", MsgIcon::Critical);
    });
    EXPECT_EQ(result, MsgResult::Ok);
    EXPECT_EQ(seen.title, "Error");
    EXPECT_EQ(seen.text.toStdString(), "一行目\n二行目");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QStringList { "OK" });
}

TEST(QtDisplayTest, IconsMapToTheirQtKinds)
{
    QtDisplay display;
    const std::pair<MsgIcon, QMessageBox::Icon> icons[] = {
        { MsgIcon::Exclamation, QMessageBox::Warning },
        { MsgIcon::Information, QMessageBox::Information },
        { MsgIcon::None, QMessageBox::NoIcon },
    };
    for (const auto &[ours, qts] : icons) {
        SeenBox seen = WhileShown("OK", [&] { display.ShowMessage("x", kAppTitle, ours); });
        EXPECT_EQ(seen.icon, qts);
        EXPECT_EQ(seen.title.toStdString(), kAppTitle);
    }
}

TEST(QtDisplayTest, BoxIsAsWideAsItsLongestLineAndWrapsOnlyWhatTheScreenCannotHold)
{
    // Two lines that Qt on its own wraps at half the screen, mid-word.
    const QString success = QString::fromUtf8(
        "石油動態報告メッセージは、「2026年03月05日14時07分09秒」に送信されました。\n"
        "着信確認情報は、Ｅ－ＭＡＩＬで送信されてきます。Ｅ－ＭＡＩＬを確認してください。");
    for (const QString &text : { success, QString(400, QChar(0x6CB9)) }) {
        int lines = 0, boxWidth = 0;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            const auto *label = box->findChild<QLabel *>("qt_msgbox_label");
            lines = label->height() / label->fontMetrics().lineSpacing();
            boxWidth = box->frameGeometry().width();
            box->accept();
        });
        QtDisplay().ShowMessage(text.toStdString(), kAppTitle, MsgIcon::Information);
        if (text == success)
            EXPECT_EQ(lines, 2);
        else
            EXPECT_GT(lines, 2);
        EXPECT_LE(boxWidth, QApplication::primaryScreen()->availableGeometry().width());
    }
}

TEST(QtDisplayTest, QuestionAnswersWithTheJapaneseButtons)
{
    QtDisplay display;
    const QString yes = QString::fromUtf8("はい");
    const QString no = QString::fromUtf8("いいえ");
    MsgResult result = MsgResult::Ok;
    SeenBox seen = WhileShown(no, [&] {
        result
            = display.ShowMessage("作りますか？", kAppTitle, MsgIcon::Question, MsgButtons::YesNo);
    });
    EXPECT_EQ(result, MsgResult::No);
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, (QStringList { yes, no }));

    WhileShown(yes, [&] {
        result
            = display.ShowMessage("作りますか？", kAppTitle, MsgIcon::Question, MsgButtons::YesNo);
    });
    EXPECT_EQ(result, MsgResult::Yes);
}

TEST(QtDisplayTest, WaitPointerIsSetOnceAndRestored)
{
    QtDisplay display;
    display.SetWaitCursor(false); // nothing to restore
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    display.SetWaitCursor(true);
    display.SetWaitCursor(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    display.SetWaitCursor(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
} // namespace kestlin

namespace kestlin {
namespace {

// Answers the file dialog once it is up with the given path, noting how it was set up.
struct SeenDialog
{
    QString title;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool dirsOnly = false;
    QStringList filters;
};

const SeenDialog &AnswerDialog(const QString &path)
{
    static SeenDialog seen;
    seen = {};
    QTimer::singleShot(0, [path] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen = { dialog->windowTitle(), dialog->fileMode(),
                 dialog->testOption(QFileDialog::ShowDirsOnly), dialog->nameFilters() };
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    return seen;
}

TEST(QtDisplayTest, FileDialogOffersExistingFilesOfEveryKind)
{
    test::TempDir dir;
    test::WriteFile(dir / "報告.xls", "x");
    QtDisplay display;
    const SeenDialog &seen = AnswerDialog(QString::fromStdString(dir / "報告.xls"));
    EXPECT_EQ(display.ChooseExistingFile("ﾌｧｲﾙを指定"), dir / "報告.xls");
    EXPECT_EQ(seen.title.toStdString(), "ﾌｧｲﾙを指定");
    EXPECT_EQ(seen.mode, QFileDialog::ExistingFile);
    // Qt's own "All Files (*)", translated where the translations are installed.
    const QString everyFile = QCoreApplication::translate("QFileDialog", "All Files (*)");
    EXPECT_TRUE(seen.filters.isEmpty() || seen.filters == QStringList { everyFile })
        << seen.filters.join(',').toStdString();

    AnswerDialog(QString());
    EXPECT_EQ(display.ChooseExistingFile("ﾌｧｲﾙを指定"), std::nullopt);
}

TEST(QtDisplayTest, FolderDialogOffersFoldersOnly)
{
    test::TempDir dir;
    QtDisplay display;
    const SeenDialog &seen = AnswerDialog(QString::fromStdString(dir.path()));
    EXPECT_EQ(display.ChooseFolder("フォルダの選択"), dir.path());
    EXPECT_EQ(seen.title.toStdString(), "フォルダの選択");
    EXPECT_EQ(seen.mode, QFileDialog::Directory);
    EXPECT_TRUE(seen.dirsOnly);
}

} // namespace
} // namespace kestlin
