// A stand-in for the person at the screen, loaded into the installed program
// with LD_PRELOAD by the package test (the program reads no command line, and
// the package holds nothing made for tests). It answers Yes to a question and
// OK to a message, fills and saves the settings dialog of a first start, and
// once the main window is up opens the settings dialog again from the window's
// menu, closes it and ends the program. It prints, one line each:
// MESSAGE<TAB>text, FIELD<TAB>name<TAB>text for every text box of the settings
// dialog, SHOWN<TAB>caption, MENU<TAB>first entry of a text box's context menu.
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

void Print(const QStringList &parts)
{
    std::printf("%s\n", parts.join('\t').replace('\n', "\\n").toUtf8().constData());
    std::fflush(stdout);
}

class StandIn : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (event->type() == QEvent::Show && widget && widget->isWindow()) {
            // Once the window is up, as a person would.
            QTimer::singleShot(0, this, [this, window = QPointer<QWidget>(widget)] {
                if (window && window->isVisible())
                    Answer(window);
            });
        }
        return false;
    }

private:
    void Answer(QWidget *window)
    {
        if (auto *box = qobject_cast<QMessageBox *>(window)) {
            Print({ "MESSAGE", box->text() });
            QAbstractButton *answer = box->buttons().value(0);
            for (QAbstractButton *button : box->buttons()) {
                if (box->buttonRole(button) == QMessageBox::YesRole)
                    answer = button;
            }
            answer->click();
        } else if (window->objectName() == "frmIniFile") {
            AnswerSettings(static_cast<QDialog *>(window));
        } else if (window->objectName() == "frmKestlin_01" && !mainShown_) {
            mainShown_ = true;
            Print({ "SHOWN", window->windowTitle() });
            QLineEdit edit;
            const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
            Print({ "MENU", menu->actions().value(0)->text().section('\t', 0, 0) });
            window->findChild<QAction *>("mnuSetting")->trigger();
            QCoreApplication::quit();
        }
    }

    void AnswerSettings(QDialog *dialog)
    {
        for (QLineEdit *field : dialog->findChildren<QLineEdit *>())
            Print({ "FIELD", field->objectName(), field->text() });
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
            auto *field = dialog->findChild<QLineEdit *>(name);
            if (field->text().isEmpty())
                field->setText(text);
        }
        dialog->findChild<QPushButton *>("cmdEstablish")->click();
    }

    bool mainShown_ = false;
};

void InstallStandIn()
{
    QCoreApplication::instance()->installEventFilter(new StandIn(QCoreApplication::instance()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallStandIn)
