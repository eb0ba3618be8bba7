// A test companion of the program, built only with the tests. It runs the
// program's own start-up from wherever it is copied and prints what the user
// would have been shown (mode "start"), or it shows the main window with a few
// files in its list and saves pictures of it, of three of its messages, of its
// file chooser, of the settings dialog and of the About box (mode
// "screenshots"), or it shows the main window, the settings dialog and the
// About box and saves pictures of the whole screen (mode "dialogs", for
// looking at them at a desktop's scale).
#include "common/QtDisplay.h"
#include "common/frmAbout.h"
#include "common/userfolders.h"
#include "mail/clsMail.h"
#include "settings/frmIniFile.h"
#include "startup/Appearance.h"
#include "startup/KestlinStart.h"
#include "startup/SendSteps.h"
#include "startup/frmKestlin_01.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <cstdio>

namespace {

// One line per message: MESSAGE<TAB>title<TAB>icon number<TAB>text, CR LF as "\r\n".
class PrintingDisplay : public kestlin::Display
{
public:
    kestlin::MsgResult ShowMessage(const std::string &text, const std::string &title,
                                   kestlin::MsgIcon icon, kestlin::MsgButtons buttons) override
    {
        QString shown = QString::fromStdString(text).replace(QStringLiteral("\r\n"),
                                                             QStringLiteral("\\r\\n"));
        std::printf("MESSAGE\t%s\t%d\t%s\n", title.c_str(), static_cast<int>(icon),
                    shown.toStdString().c_str());
        std::fflush(stdout);
        return buttons == kestlin::MsgButtons::Ok ? kestlin::MsgResult::Ok : kestlin::MsgResult::No;
    }
    void SetWaitCursor(bool) override { }
    std::optional<std::string> ChooseExistingFile(const std::string &) override { return {}; }
    std::optional<std::string> ChooseFolder(const std::string &) override { return {}; }
};

int Start()
{
    PrintingDisplay display;
    kestlin::InstanceLock lock(kestlin::LocateFiles().settingsFolder);
    auto window = kestlin::StartKestlin(display, lock);
    if (window && window->isVisible())
        std::printf("SHOWN\t%s\n", window->windowTitle().toStdString().c_str());
    return 0;
}

void Settle()
{
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
}

bool Save(const QPixmap &picture, const QString &path)
{
    const bool saved = picture.save(path, "PNG");
    std::printf("%s %s\n", saved ? "SAVED" : "FAILED", path.toStdString().c_str());
    return saved;
}

QMimeData *FileDrop(const QStringList &files)
{
    auto *data = new QMimeData;
    QList<QUrl> urls;
    for (const QString &file : files)
        urls.append(QUrl::fromLocalFile(file));
    data->setUrls(urls);
    return data;
}

// The settings dialog as it first opens (no settings file yet) and the About
// box of the main window.
bool SaveDialogs(QWidget &mainWindow, const QString &outDir)
{
    QTemporaryDir dir;
    PrintingDisplay display;
    kestlin::frmIniFile dialog(nullptr, display,
                               dir.filePath(QStringLiteral("Kestlin.INI")).toStdString());
    dialog.show();
    Settle();
    bool ok = Save(dialog.grab(), QDir(outDir).filePath(QStringLiteral("settings-dialog.png")));
    dialog.close();

    kestlin::frmAbout about(&mainWindow);
    about.show();
    Settle();
    ok = Save(about.grab(), QDir(outDir).filePath(QStringLiteral("about-box.png"))) && ok;
    about.close();
    return ok;
}

// args: settings file, folder for the pictures, files to list.
int Screenshots(const QStringList &args)
{
    if (args.size() < 3)
        return 2;
    const QString outDir = args.at(1);
    const QStringList files = args.mid(2);
    kestlin::QtDisplay display;
    kestlin::frmKestlin_01 window(display, args.at(0).toStdString());
    if (!window.Form_Load())
        return 1;
    std::unique_ptr<QMimeData> drop(FileDrop(files));
    window.Form_DragDrop(*drop);
    window.lstFile()->setCurrentRow(1);
    window.ShowCentred();
    window.activateWindow();
    Settle();
    bool ok = Save(window.grab(), QDir(outDir).filePath(QStringLiteral("main-window.png")));

    // The menu of the two extra commands, open where a click on its button opens it.
    QMenu *menu = window.cmdMenu()->menu();
    menu->popup(window.cmdMenu()->mapToGlobal(QPoint(0, window.cmdMenu()->height())));
    Settle();
    const QRect area = window.frameGeometry().united(menu->geometry());
    ok = Save(window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()),
              QDir(outDir).filePath(QStringLiteral("extra-commands.png")))
         && ok;
    menu->hide();

    // Messages as the user sees them: the refusal of a file dropped a second
    // time, and the message after a submission.
    auto saveNextMessage = [&](const QString &name) {
        QTimer::singleShot(300, [&, name] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                ok = Save(box->grab(), QDir(outDir).filePath(name)) && ok;
                box->accept();
            }
        });
    };
    saveNextMessage(QStringLiteral("duplicate-file.png"));
    std::unique_ptr<QMimeData> again(FileDrop(files.mid(0, 1)));
    window.Form_DragDrop(*again);
    saveNextMessage(QStringLiteral("success-message.png"));
    display.ShowMessage(kestlin::SendPipeline::SuccessMessage({ 2026, 3, 5, 14, 7, 9 }),
                        kestlin::kAppTitle, kestlin::MsgIcon::Information);

    // The question about a company's own certificate, as the mailing step asks it.
    saveNextMessage(QStringLiteral("trust-question.png"));
    display.ShowMessage(
        kestlin::TrustQuestion(
            { "mail.example.co.jp:587", "CN=mail.example.co.jp,O=例示石油株式会社",
              "CN=例示石油 社内認証局,O=例示石油株式会社", "2026/04/01 00:00:00 UTC",
              "2027/03/31 23:59:59 UTC",
              "3A:9F:52:C4:0B:7E:11:D8:6A:E2:94:0C:5B:F1:27:83:"
              "D4:60:1E:A9:3C:72:B5:08:E6:4D:99:1F:C3:5A:82:70",
              "この証明書は、このコンピューターが信頼する認証局のものではありません。", "" }),
        kestlin::kAppTitle, kestlin::MsgIcon::Question, kestlin::MsgButtons::YesNo);
    saveNextMessage(QStringLiteral("plain-text-question.png"));
    display.ShowMessage(
        kestlin::TrustQuestion(
            { "mail.example.co.jp:25", "", "", "", "", "",
              "暗号化しないと、途中の経路でパスワードを読み取られるおそれがあります。",
              "mail.example.co.jp:25 no-tls", kestlin::TrustKind::PlainText }),
        kestlin::kAppTitle, kestlin::MsgIcon::Question, kestlin::MsgButtons::YesNo);

    // The file chooser of "ﾌｧｲﾙ追加", Qt's own, in Japanese, in the folder of the files.
    QDir::setCurrent(QFileInfo(files.first()).absolutePath());
    bool chooserSeen = false;
    QTimer::singleShot(500, [&] {
        if (auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            chooserSeen = true;
            // Wide enough for whole names, as a user would drag it.
            chooser->resize(720, 420);
            for (auto *view : chooser->findChildren<QTreeView *>()) {
                for (int column = 0; column < 4; ++column)
                    view->resizeColumnToContents(column);
            }
            Settle();
            ok = Save(chooser->grab(), QDir(outDir).filePath(QStringLiteral("file-chooser.png")))
                 && ok;
            chooser->reject();
        }
    });
    window.cmdAdd()->click();
    ok = SaveDialogs(window, outDir) && ok;
    return ok && chooserSeen ? 0 : 1;
}

// args: an existing settings file for the main window, folder for the
// pictures. Each picture is the whole screen, so that what falls off it shows.
int Dialogs(const QStringList &args)
{
    if (args.size() < 2)
        return 2;
    const QString outDir = args.at(1);
    kestlin::QtDisplay display;
    kestlin::frmKestlin_01 window(display, args.at(0).toStdString());
    window.ShowCentred();
    window.activateWindow();
    Settle();
    auto saveScreen = [&](const QString &name) {
        Settle();
        return Save(window.screen()->grabWindow(0), QDir(outDir).filePath(name));
    };
    bool ok = saveScreen(QStringLiteral("screen-main-window.png"));
    window.lstFile()->setFocus();
    ok = saveScreen(QStringLiteral("screen-empty-list-focus.png")) && ok;
    // The dialog as on the first run: the values it proposes, no messages.
    QTemporaryDir firstRun;
    kestlin::frmIniFile settings(&window, display,
                                 firstRun.filePath(QStringLiteral("Kestlin.INI")).toStdString());
    settings.show();
    ok = saveScreen(QStringLiteral("screen-settings-dialog.png")) && ok;
    settings.close();
    kestlin::frmAbout about(&window);
    about.show();
    ok = saveScreen(QStringLiteral("screen-about-box.png")) && ok;
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    kestlin::SetUpAppearance(app);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QStringLiteral("start"))
        return Start();
    if (args.value(0) == QStringLiteral("screenshots"))
        return Screenshots(args.mid(1));
    if (args.value(0) == QStringLiteral("dialogs"))
        return Dialogs(args.mid(1));
    std::fprintf(
        stderr,
        "usage: kestlin_probe start | screenshots INI OUTDIR FILE... | dialogs INI OUTDIR\n");
    return 2;
}
