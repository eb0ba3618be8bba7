#include "common/QtDisplay.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace kestlin {

namespace {

QString FromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::Icon BoxIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QtDisplay::QtDisplay(QWidget *owner)
    : owner_(owner)
{ }

QWidget *QtDisplay::Owner() const
{
    if (owner_)
        return owner_;
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

MsgResult QtDisplay::ShowMessage(const std::string &text, const std::string &title, MsgIcon icon,
                                 MsgButtons buttons)
{
    QMessageBox box(Owner());
    box.setWindowTitle(FromUtf8(title));
    box.setIcon(BoxIcon(icon));
    box.setTextFormat(Qt::PlainText);
    // The messages carry CR LF, as they are also written to the logs.
    box.setText(FromUtf8(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    // The button captions a Japanese desktop shows, whatever the translations loaded.
    if (buttons == MsgButtons::YesNo) {
        QPushButton *yes = box.addButton(QString::fromUtf8("はい"), QMessageBox::YesRole);
        QPushButton *no = box.addButton(QString::fromUtf8("いいえ"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? MsgResult::Yes : MsgResult::No;
    }
    QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return MsgResult::Ok;
}

void QtDisplay::SetWaitCursor(bool wait)
{
    // The pointer is set, not stacked: a second "on" needs only one "off".
    if (wait == waiting_)
        return;
    waiting_ = wait;
    if (wait)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

std::optional<std::string> QtDisplay::ChooseExistingFile(const std::string &title)
{
    // No name filter: every file is offered.
    const QString path = QFileDialog::getOpenFileName(Owner(), FromUtf8(title));
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

std::optional<std::string> QtDisplay::ChooseFolder(const std::string &title)
{
    const QString path = QFileDialog::getExistingDirectory(Owner(), FromUtf8(title), QString(),
                                                           QFileDialog::ShowDirsOnly);
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

} // namespace kestlin
