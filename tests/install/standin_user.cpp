// A stand-in for the person at the screen, loaded into the installed program
// with LD_PRELOAD by the package test (the program reads no command line, and
// the package holds nothing made for tests). It prints what the program shows
// and answers it: Yes to a question, OK to a message; it fills and saves the
// settings dialog of a first start; once the main window is up it prints the
// first entry of a text box's context menu, opens the settings dialog from the
// window's menu, prints its fields, closes it and ends the program.
//
// Output, one line each: MESSAGE<TAB>text, FIELD<TAB>name<TAB>text,
// SHOWN<TAB>caption, MENU<TAB>entry.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace {

void Print(const char *kind, const QStringList &parts)
{
    QString line = QString::fromLatin1(kind);
    for (const QString &part : parts)
        line += QLatin1Char('\t') + QString(part).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

class StandIn : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->isWindow()) {
            QPointer<QWidget> window = static_cast<QWidget *>(watched);
            // Once the window is up, as a person would.
            QTimer::singleShot(0, this, [this, window] {
                if (window && window->isVisible())
                    Answer(window);
            });
        }
        return false;
    }

private:
    void Answer(QWidget *window)
    {
        if (auto *box = qobject_cast<QMessageBox *>(window))
            AnswerMessage(box);
        else if (window->objectName() == QLatin1String("frmIniFile"))
            AnswerSettings(static_cast<QDialog *>(window));
        else if (window->objectName() == QLatin1String("frmKestlin_01") && !mainShown_)
            UseMainWindow(window);
    }

    static void AnswerMessage(QMessageBox *box)
    {
        Print("MESSAGE", { box->text() });
        QAbstractButton *answer = box->buttons().value(0);
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == QMessageBox::YesRole)
                answer = button;
        }
        if (answer)
            answer->click();
    }

    void AnswerSettings(QDialog *dialog)
    {
        const QList<QLineEdit *> fields = dialog->findChildren<QLineEdit *>();
        for (QLineEdit *field : fields)
            Print("FIELD", { field->objectName(), field->text() });
        if (mainShown_) {
            dialog->reject();
            return;
        }
        const std::pair<const char *, const char *> typed[] = {
            { "txtUUserId", "U0001" },
            { "txtUPassWord", "pass-1234" },
            { "txtUMailAdress", "houkoku@example.co.jp" },
            { "txtMSmtp", "127.0.0.1" },
            { "txtMMailAdress", "report@example.go.jp" },
        };
        for (const auto &[name, text] : typed) {
            auto *field = dialog->findChild<QLineEdit *>(QLatin1String(name));
            if (field && field->text().isEmpty())
                field->setText(QLatin1String(text));
        }
        if (auto *save = dialog->findChild<QPushButton *>(QStringLiteral("cmdEstablish")))
            save->click();
    }

    void UseMainWindow(QWidget *window)
    {
        mainShown_ = true;
        Print("SHOWN", { window->windowTitle() });
        QLineEdit edit;
        const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        // The entry without its shortcut.
        Print("MENU", { menu->actions().value(0)->text().section(QLatin1Char('\t'), 0, 0) });
        if (auto *settings = window->findChild<QAction *>(QStringLiteral("mnuSetting")))
            settings->trigger();
        QCoreApplication::quit();
    }

    bool mainShown_ = false;
};

void InstallStandIn()
{
    QCoreApplication::instance()->installEventFilter(new StandIn(QCoreApplication::instance()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallStandIn)
