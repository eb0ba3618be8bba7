// Pictures of the settings dialog and the About box for the documentation,
// written only when KESTLIN_SCREENSHOT_DIR names a folder.
#include "QtTestApp.h"
#include "common/frmAbout.h"
#include "settings/frmIniFile.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace kestlin;

namespace {

QIcon SampleIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setBrush(QColor(0, 90, 160));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(2, 2, 28, 28);
    return QIcon(pixmap);
}

} // namespace

TEST(Screenshots, WrittenWhenAsked)
{
    const char *folder = std::getenv("KESTLIN_SCREENSHOT_DIR");
    if (!folder || !*folder)
        GTEST_SKIP() << "KESTLIN_SCREENSHOT_DIR not set";
    QFont font;
    font.setFamilies({"ＭＳ ゴシック", "MS Gothic", "IPAGothic", "Noto Sans Mono CJK JP"});
    font.setPointSize(9);
    QApplication::setFont(font);

    test::TempDir dir;
    test::RecordingDisplay display;
    frmIniFile dialog(nullptr, display, dir / "Kestlin.INI");
    dialog.show();
    EXPECT_TRUE(dialog.grab().save(QString::fromUtf8(folder) + "/settings-dialog.png"));
    dialog.close();

    QWidget mainWindow;
    mainWindow.setWindowIcon(SampleIcon());
    frmAbout about(&mainWindow);
    about.show();
    EXPECT_TRUE(about.grab().save(QString::fromUtf8(folder) + "/about-box.png"));
}
