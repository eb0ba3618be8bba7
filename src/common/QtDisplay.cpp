#include "common/QtDisplay.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

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

// The widest a message box may be on its screen: within Qt's own limit (the
// whole screen up to 1024 pixels, beyond that the screen less 480, at most
// 1000), and leaving room for the window's frame.
int WidestBox(const QMessageBox &box)
{
    constexpr int kFrameRoom = 40;
    const QScreen *screen = box.screen();
    const int width = screen ? screen->availableGeometry().width() : 1024;
    return width <= 1024 ? width - kFrameRoom : std::min(width - 480, 1000);
}

// Lines break where the text breaks them, as in a Windows message box: the
// box is made as wide as its longest line. Only a line wider than the box
// may be on the screen wraps. Left alone, the box wraps at half the screen,
// in the middle of a Japanese word.
void FitToLongestLine(QMessageBox &box)
{
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    if (!label || !box.layout())
        return;
    label->setWordWrap(false);
    const int textWidth = label->minimumSizeHint().width();
    box.layout()->activate();
    const int besideText = box.layout()->totalMinimumSize().width() - textWidth;
    label->setWordWrap(true);
    label->setMinimumWidth(std::min(textWidth, WidestBox(box) - besideText));
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
    if (QWidget *active = QApplication::activeWindow())
        return active;
    // A desktop may not tell the program which of its windows is active (a
    // Wayland compositor does not, until the window has the keyboard): the box
    // still belongs to the program's window, and the compositor places it
    // over that one instead of anywhere on the screen.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && !window->isMinimized()
            && (window->windowType() == Qt::Window || window->windowType() == Qt::Dialog))
            return window;
    }
    return nullptr;
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
    FitToLongestLine(box);
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
    return ChooseFolderFrom(title, {});
}

std::optional<std::string> QtDisplay::ChooseFolderFrom(const std::string &title,
                                                       const std::string &startFolder)
{
    const QString start = FromUtf8(startFolder);
    const QString path = QFileDialog::getExistingDirectory(
        Owner(), FromUtf8(title), !start.isEmpty() && QFileInfo(start).isDir() ? start : QString(),
        QFileDialog::ShowDirsOnly);
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

} // namespace kestlin
