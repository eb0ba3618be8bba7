// The windows on today's desktops: each control a screen reader can reach has
// a name of its own, the windows fit a small scaled screen, and the font is
// the same Japanese face under every locale. Run by ctest in the settings
// each case needs (see mainwindow.cmake).
#include "QtTestApp.h"
#include "common/QtDisplay.h"
#include "common/frmAbout.h"
#include "settings/frmIniFile.h"
#include "startup/Appearance.h"
#include "startup/CommandLine.h"
#include "startup/frmKestlin_01.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include <QAccessible>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <clocale>
#include <gtest/gtest.h>
#include <map>

namespace kestlin {
namespace {

// Every focusable, visible control under node, by its accessible name.
void CollectFocusable(QAccessibleInterface *node, std::multimap<QString, QString> &names)
{
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface *child = node->child(i);
        if (!child)
            continue;
        const QAccessible::State state = child->state();
        if (state.focusable && !state.invisible)
            names.emplace(child->text(QAccessible::Name),
                          child->object() ? child->object()->objectName() : QString());
        CollectFocusable(child, names);
    }
}

void ExpectNamedOnce(QWidget &window)
{
    std::multimap<QString, QString> names;
    CollectFocusable(QAccessible::queryAccessibleInterface(&window), names);
    EXPECT_GT(names.size(), 3u) << window.objectName().toStdString();
    for (const auto &[name, control] : names) {
        EXPECT_FALSE(name.isEmpty()) << control.toStdString() << " has no name";
        EXPECT_EQ(names.count(name), 1u)
            << name.toStdString() << " is shared, by " << control.toStdString();
    }
}

// The text drawn in the given family, as pixels.
QImage Drawn(const QString &text, const QString &family)
{
    QFont font(family);
    font.setPixelSize(48);
    QImage image(200, 64, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter, text);
    return image;
}

bool OnScreen(const QWidget &widget)
{
    const QRect screen = widget.screen()->availableGeometry();
    const QRect where = widget.isWindow() ? widget.frameGeometry()
                                          : QRect(widget.mapToGlobal(QPoint()), widget.size());
    return screen.contains(where);
}

TEST(Accessibility, EveryFocusableControlHasANameOfItsOwn)
{
    test::TempDir dir;
    test::RecordingDisplay display;
    frmKestlin_01 window(display, dir / "Kestlin.INI");
    window.show();
    frmIniFile settings(&window, display, dir / "Kestlin.INI");
    settings.show();
    ExpectNamedOnce(window);
    ExpectNamedOnce(settings);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&window)->role(), QAccessible::Window)
        << "a screen reader's frame";
}

TEST(QtOptions, OpenTheWindowAndAnythingElseIsTheCommandLines)
{
    EXPECT_TRUE(OnlyQtArguments({ "-platform", "wayland" }));
    EXPECT_TRUE(OnlyQtArguments({ "--display", ":1", "-reverse", "-style=Fusion" }));
    EXPECT_FALSE(OnlyQtArguments({}));
    EXPECT_FALSE(OnlyQtArguments({ "-platform" })) << "a value is missing";
    EXPECT_FALSE(OnlyQtArguments({ "-style", "Fusion", "--check" }));
    EXPECT_FALSE(OnlyQtArguments({ "report.xls" }));
    EXPECT_FALSE(OnlyQtArguments({ "--frobnicate" })) << "refused by the command line, as before";
}

TEST(SmallScreen, WindowsAndTheirButtonsStayOnTheScreen)
{
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
        GTEST_SKIP() << "run by ctest on a small scaled screen";
    ASSERT_LE(QGuiApplication::primaryScreen()->availableGeometry().height(), 600);
    test::TempDir dir;
    test::RecordingDisplay display;
    frmKestlin_01 window(display, dir / "Kestlin.INI");
    window.ShowCentred();
    EXPECT_TRUE(OnScreen(window));

    frmIniFile settings(&window, display, dir / "Kestlin.INI");
    settings.show();
    EXPECT_TRUE(OnScreen(settings));
    for (const char *name : { "cmdEstablish", "cmdEnd" })
        EXPECT_TRUE(OnScreen(*settings.findChild<QPushButton *>(name))) << name;
    // Shift+Tab from "設定" reaches the last folder button, scrolled into view.
    settings.activateWindow();
    QApplication::processEvents();
    auto *establish = settings.findChild<QPushButton *>("cmdEstablish");
    establish->setFocus();
    QKeyEvent backTab(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier);
    QApplication::sendEvent(establish, &backTab);
    QWidget *last = QApplication::focusWidget();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->accessibleName(), "作業フォルダを選択");
    auto *fields = settings.findChild<QScrollArea *>();
    const QRect shown(fields->viewport()->mapToGlobal(QPoint()), fields->viewport()->size());
    EXPECT_TRUE(shown.contains(QRect(last->mapToGlobal(QPoint()), last->size())));
    settings.close();

    frmAbout about(&window);
    about.show();
    EXPECT_TRUE(OnScreen(about));
    about.close();

    // A message of many lines, as the longest of the program's are.
    QtDisplay boxes;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            seen = true;
            EXPECT_TRUE(OnScreen(*box));
            box->accept();
        }
    });
    boxes.ShowMessage(std::string(12, '\n') + std::string(200, 'x'), kAppTitle, MsgIcon::Question);
    EXPECT_TRUE(seen);
}

TEST(Font, TheSameJapaneseFaceUnderEveryLocale)
{
    if (std::string(qgetenv("LANG")).starts_with("ja")) {
        ASSERT_TRUE(std::string(std::setlocale(LC_CTYPE, nullptr)).starts_with("ja"))
            << "the ja_JP.UTF-8 locale is missing (Debian package locales)";
    }
    QStringList ipaGothic;
    for (const QStringList &names : InstalledFontNames()) {
        if (names.contains(QStringLiteral("IPAGothic")))
            ipaGothic = names;
    }
    if (ipaGothic.isEmpty())
        GTEST_SKIP() << "IPAGothic (fonts-ipafont-gothic) is not installed";
    const QString used = QFontInfo(KestlinFont()).family();
    EXPECT_TRUE(ipaGothic.contains(used)) << used.toStdString();

    // A face made for another region that covers Japanese too draws the
    // Japanese forms of these kanji, not its own.
    const QString kanji = QString::fromUtf8("送次化");
    for (const char *other : { "Noto Sans CJK KR", "Noto Sans CJK SC" }) {
        if (QFontInfo(QFont(QString::fromLatin1(other))).family() != QLatin1String(other))
            continue;
        EXPECT_EQ(Drawn(kanji, QString::fromLatin1(other)),
                  Drawn(kanji, QStringLiteral("Noto Sans CJK JP")))
            << other;
    }
}

} // namespace
} // namespace kestlin
