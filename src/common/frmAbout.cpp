#include "common/frmAbout.h"

#include "common/Display.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

namespace kestlin {

namespace {

// Positions are kept as they were laid out in twips, at 15 twips a pixel.
QRect Twips(int left, int top, int width, int height)
{
    constexpr int kTwipsPerPixel = 15;
    return { left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
             height / kTwipsPerPixel };
}

std::string SignedNumber(int number)
{
    return (number < 0 ? "" : " ") + std::to_string(number);
}

QLabel *AddLabel(QWidget *parent, const char *name, const QString &text, const QRect &where)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(where);
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
    setFixedSize(Twips(0, 0, 4815, 2295).size());

    const QIcon icon = owner ? owner->window()->windowIcon() : QApplication::windowIcon();
    QLabel *picIcon = AddLabel(this, "picIcon", {}, Twips(120, 240, 540, 540));
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picIcon->setPixmap(icon.pixmap(32, 32));

    AddLabel(this, "Label2", QStringLiteral("アプリケーション"), Twips(840, 120, 1575, 255));
    AddLabel(this, "lblTitle", QString::fromUtf8(kAppTitle), Twips(2640, 120, 2085, 360));
    AddLabel(this, "Label3", QStringLiteral("バージョン"), Twips(840, 600, 1575, 255));
    AddLabel(this, "lblVersion",
             QString::fromStdString(VersionText(KESTLIN_VERSION_MAJOR, KESTLIN_VERSION_MINOR,
                                                KESTLIN_VERSION_REVISION)),
             Twips(2640, 600, 2085, 345));
    AddLabel(this, "Label1", QStringLiteral("石油動態報告をメールで提出するためのツールです。"),
             Twips(82, 1200, 4650, 255));

    auto *cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setGeometry(Twips(1800, 1800, 1380, 345));
    cmdOK->setDefault(true); // Enter; Esc closes any dialog
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace kestlin
