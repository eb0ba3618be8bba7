#include "common/frmAbout.h"

#include "common/Display.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace kestlin {

namespace {

// The box as it was laid out in twips, at 15 twips a pixel: its least size,
// the icon's column and the caption column. A larger desktop font widens the
// columns instead of cutting the texts.
constexpr int kLeastWidth = 4815 / 15;
constexpr int kLeastHeight = 2295 / 15;
constexpr int kIconColumn = 840 / 15 - 16;
constexpr int kCaptionColumn = 2640 / 15 - 840 / 15 - 8;

std::string SignedNumber(int number)
{
    return (number < 0 ? "" : " ") + std::to_string(number);
}

QLabel *AddLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

} // namespace

std::string VersionText(int major, int minor, int revision)
{
    return SignedNumber(major) + "." + SignedNumber(minor) + SignedNumber(revision);
}

frmAbout::frmAbout(QWidget *owner)
    : QDialog(owner)
{
    setObjectName("frmAbout");
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // The program's own font, as in the main window, whatever the desktop's.
    if (owner)
        setFont(owner->window()->font());

    const QIcon icon = owner ? owner->window()->windowIcon() : QApplication::windowIcon();
    QLabel *picIcon = AddLabel(this, "picIcon", {});
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picIcon->setPixmap(icon.pixmap(32, 32));
    picIcon->setAccessibleName(QStringLiteral("アイコン"));

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(12);
    grid->setColumnMinimumWidth(0, kIconColumn);
    grid->setColumnMinimumWidth(1, kCaptionColumn);
    grid->setColumnStretch(2, 1);
    grid->addWidget(picIcon, 0, 0, 2, 1, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(AddLabel(this, "Label2", QStringLiteral("アプリケーション")), 0, 1);
    grid->addWidget(AddLabel(this, "lblTitle", QString::fromUtf8(kAppTitle)), 0, 2);
    grid->addWidget(AddLabel(this, "Label3", QStringLiteral("バージョン")), 1, 1);
    grid->addWidget(
        AddLabel(this, "lblVersion",
                 QString::fromStdString(VersionText(KESTLIN_VERSION_MAJOR, KESTLIN_VERSION_MINOR,
                                                    KESTLIN_VERSION_REVISION))),
        1, 2);
    grid->addWidget(AddLabel(this, "Label1",
                             QStringLiteral("石油動態報告をメールで提出するためのツールです。")),
                    2, 0, 1, 3);

    auto *cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setMinimumWidth(1380 / 15);
    cmdOK->setDefault(true); // Enter; Esc closes any dialog
    grid->addWidget(cmdOK, 3, 0, 1, 3, Qt::AlignHCenter);
    // As large as the texts need, never smaller than it was drawn, and not resizable.
    setFixedSize(sizeHint().expandedTo(QSize(kLeastWidth, kLeastHeight)));
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace kestlin
