// Pictures of the settings dialog and the About box for the documentation,
// written only when KESTLIN_SCREENSHOT_DIR names a folder.
#include "QtTestApp.h"
#include "common/frmAbout.h"
#include "settings/frmIniFile.h"
#include "startup/Appearance.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QPixmap>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace kestlin;

TEST(Screenshots, WrittenWhenAsked)
{
    const char *folder = std::getenv("KESTLIN_SCREENSHOT_DIR");
    if (!folder || !*folder)
        GTEST_SKIP() << "KESTLIN_SCREENSHOT_DIR not set";
    // The program's own look, as its start-up sets it.
    QApplication::setFont(KestlinFont());
    QApplication::setWindowIcon(KestlinIcon());

    test::TempDir dir;
    test::RecordingDisplay display;
    frmIniFile dialog(nullptr, display, dir / "Kestlin.INI");
    dialog.show();
    EXPECT_TRUE(dialog.grab().save(QString::fromUtf8(folder) + "/settings-dialog.png"));
    dialog.close();

    QWidget mainWindow;
    frmAbout about(&mainWindow);
    about.show();
    EXPECT_TRUE(about.grab().save(QString::fromUtf8(folder) + "/about-box.png"));
}
