#include "startup/frmKestlin_01.h"

#include "QtTestApp.h"
#include "startup/Appearance.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <filesystem>

namespace kestlin {
namespace {

const std::string kDupByDialog = "既に選択されているファイルです";
const std::string kDupByDrop = "既に選択されているファイルです。";
const std::string kReserved
    = "システムで予約されているファイル名です。\r\nファイル名を変更して再度指定してください。";

class MainWindowTest : public ::testing::Test
{
protected:
    MainWindowTest()
        : window(display, dir / "Kestlin.INI")
    {
        test::WriteFile(dir / "Kestlin.INI", "[USER]\r\n");
    }

    std::string File(const std::string &name)
    {
        test::WriteFile(dir / name, "report");
        return dir / name;
    }

    std::vector<std::string> Entries() const
    {
        std::vector<std::string> entries;
        for (int i = 0; i < window.lstFile()->count(); ++i)
            entries.push_back(window.lstFile()->item(i)->text().toStdString());
        return entries;
    }

    std::vector<std::string> MessageTexts() const
    {
        std::vector<std::string> texts;
        for (const auto &m : display.messages) {
            EXPECT_EQ(m.title, kAppTitle);
            texts.push_back(m.text);
        }
        return texts;
    }

    void AddByDialog(const std::optional<std::string> &path)
    {
        display.chosenPaths.push_back(path);
        window.cmdAdd()->click();
    }

    static std::unique_ptr<QMimeData> Files(const std::vector<std::string> &paths)
    {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const auto &p : paths)
            urls.append(QUrl::fromLocalFile(QString::fromStdString(p)));
        data->setUrls(urls);
        return data;
    }

    // A drag as the window system delivers it to the control under the
    // pointer: entering, then the drop when the entry was accepted.
    static bool DropOn(QWidget *target, const QMimeData &data)
    {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        return true;
    }

    test::TempDir dir;
    test::RecordingDisplay display;
    frmKestlin_01 window;
};

TEST_F(MainWindowTest, LayoutFollowsTheTwipsAtFifteenPerPixel)
{
    EXPECT_EQ(window.size(), QSize(417, 345));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);

    const std::pair<const char *, QRect> expected[] = {
        { "cmdSend", { 8, 8, 401, 49 } },      { "Frame1", { 8, 64, 401, 273 } },
        { "Label3", { 8, 24, 385, 25 } },      { "cmdAdd", { 8, 48, 185, 33 } },
        { "cmdDelete", { 200, 48, 193, 33 } }, { "Label1", { 8, 88, 385, 17 } },
        { "lstFile", { 8, 104, 385, 160 } },
    };
    for (const auto &[name, geometry] : expected) {
        auto *control = window.findChild<QWidget *>(QString::fromLatin1(name));
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(control->geometry(), geometry) << name;
    }
    EXPECT_EQ(window.Frame1()->title().toStdString(), "添付ﾌｧｲﾙ");
    EXPECT_EQ(window.cmdSend()->text().toStdString(), "送信");
    EXPECT_EQ(window.cmdAdd()->text().toStdString(), "ﾌｧｲﾙ追加");
    EXPECT_EQ(window.cmdDelete()->text().toStdString(), "ﾌｧｲﾙ削除");
    EXPECT_EQ(window.lstFile()->selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(MainWindowTest, TabOrderAndFontAreTheWindowsOwn)
{
    auto nextTabStop = [](QWidget *w) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    EXPECT_EQ(nextTabStop(window.cmdAdd()), window.cmdDelete());
    EXPECT_EQ(nextTabStop(window.cmdDelete()), window.lstFile());
    EXPECT_EQ(nextTabStop(window.lstFile()), window.cmdSend());
    EXPECT_EQ(nextTabStop(window.cmdSend()), window.cmdAdd());

    const QString family = QFontInfo(window.lstFile()->font()).family();
    EXPECT_TRUE(family == "IPAGothic" || family.contains("CJK JP") || family.contains("Gothic"))
        << family.toStdString();
    EXPECT_EQ(window.font().pixelSize(), 12);
}

TEST_F(MainWindowTest, LoadSetsCaptionAndTheExtraCommandsInOrder)
{
    EXPECT_EQ(window.windowTitle().toStdString(), "石油動態報告ﾒｰﾙ送信");
    ASSERT_TRUE(window.Form_Load());
    EXPECT_EQ(window.windowTitle().toStdString(), "石油動態報告メール送信");

    const QList<QAction *> actions = window.actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text().toStdString(), "バージョン情報");
    EXPECT_EQ(actions[2]->text().toStdString(), "設定");
    EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
    ASSERT_NE(window.cmdMenu(), nullptr);
    EXPECT_EQ(window.cmdMenu()->menu()->actions(), actions);
    // The menu button is reached by Tab; a click does not take the focus.
    EXPECT_EQ(window.cmdMenu()->focusPolicy(), Qt::TabFocus);
    EXPECT_TRUE(window.Frame1()->rect().contains(window.cmdMenu()->geometry()));
}

TEST_F(MainWindowTest, RightClickAnywhereOffersTheExtraCommands)
{
    ASSERT_TRUE(window.Form_Load());
    window.ShowCentred();
    const QWidget *targets[] = { window.lstFile()->viewport(), window.cmdAdd(), &window };
    for (const QWidget *target : targets) {
        QList<QAction *> offered;
        // The menu runs its own loop; look at it once it is up, then close it.
        QTimer::singleShot(0, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                offered = menu->actions();
                menu->close();
            }
        });
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                                target->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(const_cast<QWidget *>(target), &click);
        EXPECT_EQ(offered, window.actions()) << target->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, KeyboardAloneReachesEveryCommand)
{
    ASSERT_TRUE(window.Form_Load());
    window.ShowCentred();
    auto press = [](QWidget *target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, key == Qt::Key_Space ? " " : "");
        QApplication::sendEvent(target, &event);
    };
    // Enter presses the focused button.
    display.chosenPaths.push_back(File("a.csv"));
    press(window.cmdAdd(), Qt::Key_Return);
    EXPECT_EQ(window.lstFile()->count(), 1);

    // Tab after "送信" reaches the menu button; Enter, Space and Shift+F10
    // (on any control) open the menu of the extra commands.
    QWidget *next = window.cmdSend()->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    EXPECT_EQ(next, window.cmdMenu());
    window.lstFile()->setFocus();
    const std::pair<QWidget *, int> ways[] = { { window.cmdMenu(), Qt::Key_Return },
                                               { window.lstFile(), Qt::Key_F10 },
                                               { window.cmdMenu(), Qt::Key_Space } };
    for (const auto &[target, key] : ways) {
        QList<QAction *> offered;
        QTimer::singleShot(0, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                offered = menu->actions();
                menu->close();
            }
        });
        press(target, key, key == Qt::Key_F10 ? Qt::ShiftModifier : Qt::NoModifier);
        EXPECT_EQ(offered, window.actions()) << key;
    }
}

TEST_F(MainWindowTest, ActivationClosesTheWindowOnlyWhenTheSettingsFileIsGone)
{
    ASSERT_TRUE(window.Form_Load());
    window.ShowCentred();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&window, &activate);
    EXPECT_TRUE(window.isVisible());

    std::filesystem::remove(dir / "Kestlin.INI");
    QApplication::sendEvent(&window, &activate);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MainWindowTest, DialogAddsFilesAndRefusesDuplicatesAndTheReservedName)
{
    const std::string report = File("報告.xls");
    AddByDialog(report);
    AddByDialog(report);
    AddByDialog(std::nullopt); // cancelled
    AddByDialog(dir.path()); // a folder
    AddByDialog(File("MAIN_TEXT.txt"));
    AddByDialog(File("main_text.txt"));
    AddByDialog(File("報告.XLS")); // the same name in other letters

    EXPECT_EQ(Entries(),
              (std::vector<std::string> { report, dir / "main_text.txt", dir / "報告.XLS" }));
    EXPECT_EQ(MessageTexts(), (std::vector<std::string> { kDupByDialog, kReserved }));
    for (const auto &m : display.messages)
        EXPECT_EQ(m.icon, MsgIcon::Information);
    EXPECT_EQ(display.chooserTitles.front(), "ﾌｧｲﾙを指定");
}

TEST_F(MainWindowTest, SingleDropRefusesWithTheFullStopMessages)
{
    const std::string report = File("a.csv");
    AddByDialog(report);
    window.Form_DragDrop(*Files({ report }));
    window.Form_DragDrop(*Files({ File("MAIN_TEXT.txt") }));
    window.Form_DragDrop(*Files({ dir.path() })); // a folder alone
    window.Form_DragDrop(*Files({ dir / "gone.csv" })); // no such file
    window.Form_DragDrop(*Files({ File(".hidden.csv") })); // hidden
    window.Form_DragDrop(*Files({ File("main_text.txt") }));

    EXPECT_EQ(Entries(), (std::vector<std::string> { report, dir / "main_text.txt" }));
    EXPECT_EQ(MessageTexts(), (std::vector<std::string> { kDupByDrop, kReserved }));
}

TEST_F(MainWindowTest, SeveralDroppedFilesAreFilteredSilently)
{
    const std::string listed = File("1.csv");
    window.Form_DragDrop(*Files({ listed }));
    window.Form_DragDrop(*Files({ File("2.csv"), listed, File("3.csv") }));
    window.Form_DragDrop(*Files({ dir.path(), File("4.csv"), File("MAIN_TEXT.txt"), File("5.csv"),
                                  dir / "5.csv", dir / "missing.csv" }));

    EXPECT_EQ(Entries(), (std::vector<std::string> { listed, dir / "2.csv", dir / "3.csv",
                                                     dir / "4.csv", dir / "5.csv" }));
    EXPECT_TRUE(display.messages.empty());
}

TEST_F(MainWindowTest, NamesWindowsCannotHoldAreRefusedNamingTheFile)
{
    const std::string rename = "ファイル名を変更して再度指定してください。";
    AddByDialog(File("a:b.csv"));
    window.Form_DragDrop(*Files({ File("Con.txt") }));
    window.Form_DragDrop(*Files({ File("1.csv"), File("report. "), File("2.csv") }));

    EXPECT_EQ(Entries(), (std::vector<std::string> { dir / "1.csv", dir / "2.csv" }));
    EXPECT_EQ(
        MessageTexts(),
        (std::vector<std::string> {
            "「a:b.csv」は受信側のWindowsで使えないファイル名です。\r\n"
            "\\ / : * ? \" < > | と制御文字は使えません。\r\n"
                + rename,
            "「Con.txt」は受信側のWindowsで使えないファイル名です。\r\n"
            "CON、PRN、AUX、NUL、COM1～COM9、LPT1～LPT9 は拡張子を付けても使えません。\r\n"
                + rename,
            "次のファイルは受信側のWindowsで使えないファイル名のため、追加しませんでした。\r\n"
            "「report. 」：名前の最後にピリオドや空白は使えません。\r\n"
                + rename }));
    for (const auto &m : display.messages)
        EXPECT_EQ(m.icon, MsgIcon::Information);
}

TEST_F(MainWindowTest, DropsThatCarryNoFiles)
{
    QMimeData text;
    text.setText(QStringLiteral("/etc/passwd"));
    EXPECT_FALSE(DropOn(window.lstFile()->viewport(), text));
    window.Form_DragDrop(text);
    QMimeData link;
    link.setUrls({ QUrl(QStringLiteral("https://example.com/report.xls")) });
    window.Form_DragDrop(link);
    EXPECT_TRUE(display.messages.empty());

    QMimeData mixed;
    mixed.setUrls({ QUrl::fromLocalFile(QString::fromStdString(File("a.csv"))),
                    QUrl(QStringLiteral("https://example.com/b.csv")) });
    window.Form_DragDrop(mixed);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string> { "そのｵﾌﾞｼﾞｪｸﾄはﾘｽﾄに追加できません。" }));
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(window.lstFile()->count(), 0);
}

TEST_F(MainWindowTest, EveryControlPassesDropsToTheWindow)
{
    QWidget *targets[] = { &window,
                           window.Frame1(),
                           window.findChild<QLabel *>("Label1"),
                           window.findChild<QLabel *>("Label3"),
                           window.lstFile()->viewport(),
                           window.cmdAdd(),
                           window.cmdDelete(),
                           window.cmdSend() };
    window.ShowCentred();
    std::vector<std::string> expected;
    int n = 0;
    for (QWidget *target : targets) {
        ASSERT_NE(target, nullptr);
        expected.push_back(File("drop" + std::to_string(++n) + ".txt"));
        EXPECT_TRUE(DropOn(target, *Files({ expected.back() })));
    }
    EXPECT_EQ(Entries(), expected);
}

TEST_F(MainWindowTest, DeleteRemovesTheSelectedEntriesAndKeepsTheOrder)
{
    window.cmdDelete()->click(); // an empty list is fine
    std::vector<std::string> files;
    for (int i = 1; i <= 5; ++i)
        files.push_back(File(std::to_string(i) + ".csv"));
    window.Form_DragDrop(*Files(files));
    window.cmdDelete()->click(); // nothing selected
    ASSERT_EQ(window.lstFile()->count(), 5);

    for (int row : { 0, 2, 3 })
        window.lstFile()->item(row)->setSelected(true);
    window.cmdDelete()->click();
    EXPECT_EQ(Entries(), (std::vector<std::string> { files[1], files[4] }));
    EXPECT_TRUE(display.messages.empty());
}

TEST_F(MainWindowTest, ClickedEntryBecomesTheToolTip)
{
    const std::string a = File("長い名前の報告ファイル_2026年03月分.xlsx");
    const std::string b = File("b.csv");
    window.Form_DragDrop(*Files({ a, b }));
    window.lstFile()->setCurrentRow(0);
    window.lstFile_Click();
    EXPECT_EQ(window.lstFile()->toolTip().toStdString(), a);
    window.lstFile()->setCurrentRow(1);
    EXPECT_EQ(window.lstFile()->toolTip().toStdString(), b);
}

TEST_F(MainWindowTest, SendMembersStartEmpty)
{
    EXPECT_EQ(window.strWorkSpace, "");
    EXPECT_EQ(window.strSendFile, "");
    EXPECT_EQ(window.iniFilePath(), dir / "Kestlin.INI");
    EXPECT_EQ(&window.display(), &display);
}

TEST(MainWindowIcon, IconIsSharpFromSixteenTo256Pixels)
{
    const QIcon icon = KestlinIcon();
    ASSERT_FALSE(icon.isNull());
    for (int size : { 16, 256 }) {
        EXPECT_EQ(icon.availableSizes().contains(QSize(size, size)), true) << size;
        EXPECT_FALSE(icon.pixmap(size, size).toImage().allGray()) << size;
    }
}

TEST(MainWindowFont, JapaneseFamiliesArePreferredInOrderByAnyOfTheirNames)
{
    EXPECT_EQ(ChosenFontFamily({ "Noto Sans Mono CJK JP", "IPAGothic" }, {}), "IPAGothic");
    EXPECT_EQ(ChosenFontFamily({ "Noto Sans Mono CJK JP", QString::fromUtf8("ＭＳ ゴシック") }, {}),
              QString::fromUtf8("ＭＳ ゴシック"));
    EXPECT_EQ(ChosenFontFamily({ "Noto Sans Mono CJK SC", "Noto Sans Mono CJK JP" }, {}),
              "Noto Sans Mono CJK JP");
    EXPECT_EQ(ChosenFontFamily({ "DejaVu Sans" }, { { "DejaVu Sans" } }), "");
    // Under a Japanese locale Qt lists IPA Gothic by its Japanese name only.
    const QString ipaJapanese = QString::fromUtf8("IPAゴシック");
    EXPECT_EQ(ChosenFontFamily({ "Noto Sans Mono CJK JP", ipaJapanese },
                               { { "Noto Sans Mono CJK JP" }, { "IPAGothic", ipaJapanese } }),
              ipaJapanese);
}

} // namespace
} // namespace kestlin
