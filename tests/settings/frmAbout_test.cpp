#include "QtTestApp.h"
#include "common/Display.h"
#include "common/frmAbout.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace kestlin;
using kestlin::test::WhenModal;

namespace {

std::string LabelText(const QWidget &about, const char *name)
{
    auto *label = about.findChild<QLabel *>(name);
    EXPECT_NE(label, nullptr) << name;
    return label ? label->text().toStdString() : std::string();
}

QIcon RedIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::red);
    return QIcon(pixmap);
}

} // namespace

TEST(VersionText, EachNumberGetsASignPosition)
{
    EXPECT_EQ(VersionText(1, 2, 0), " 1. 2 0");
    EXPECT_EQ(VersionText(10, 0, 15), " 10. 0 15");
    EXPECT_EQ(VersionText(-1, 2, -3), "-1. 2-3");
}

TEST(AboutBox, ShowsTitleVersionAndTheMainWindowsIcon)
{
    QWidget mainWindow;
    mainWindow.setWindowIcon(RedIcon());
    frmAbout about(&mainWindow);
    EXPECT_EQ(about.objectName(), "frmAbout");
    EXPECT_EQ(about.windowTitle(), "ﾊﾞｰｼﾞｮﾝ情報");
    EXPECT_EQ(LabelText(about, "Label2"), "アプリケーション");
    EXPECT_EQ(LabelText(about, "lblTitle"), kAppTitle);
    EXPECT_EQ(LabelText(about, "Label3"), "バージョン");
    EXPECT_EQ(LabelText(about, "lblVersion"),
              VersionText(KESTLIN_VERSION_MAJOR, KESTLIN_VERSION_MINOR, KESTLIN_VERSION_REVISION));
    EXPECT_FALSE(LabelText(about, "Label1").empty());
    auto *ok = about.findChild<QPushButton *>("cmdOK");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());

    auto *picture = about.findChild<QLabel *>("picIcon");
    ASSERT_NE(picture, nullptr);
    const QImage shown = picture->pixmap().toImage();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::red));
}

TEST(AboutBox, OkEnterAndEscapeClose)
{
    // A box left open is closed by WhenModal with a result of -1, and fails.
    QWidget mainWindow;
    for (int way = 0; way < 3; ++way) {
        frmAbout about(&mainWindow);
        WhenModal([way](QWidget *dialog) {
            if (way == 0)
                dialog->findChild<QPushButton *>("cmdOK")->click();
            else
                QTest::keyClick(dialog, way == 1 ? Qt::Key_Return : Qt::Key_Escape);
        });
        EXPECT_EQ(about.exec(), way == 2 ? QDialog::Rejected : QDialog::Accepted) << "way " << way;
    }
}
