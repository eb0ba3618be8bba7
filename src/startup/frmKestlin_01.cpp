#include "startup/frmKestlin_01.h"

#include "common/ButtonKeys.h"
#include "common/Display.h"
#include "common/Guarded.h"
#include "settings/SettingsUi.h"
#include "startup/Appearance.h"
#include "startup/AttachmentList.h"
#include "startup/SendUi.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionFocusRect>
#include <QToolButton>
#include <exception>

namespace kestlin {

namespace {

// The layout is drawn in twips; at 96 dpi fifteen of them make a pixel.
constexpr int kTwipsPerPixel = 15;

QRect Twips(int left, int top, int width, int height)
{
    return { left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
             height / kTwipsPerPixel };
}

QString Text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// The file list: an empty list that has the focus shows it too, as a list
// with entries does on its current entry.
class FileListWidget : public QListWidget
{
public:
    using QListWidget::QListWidget;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QListWidget::paintEvent(event);
        if (count() != 0 || !hasFocus())
            return;
        QPainter painter(viewport());
        QStyleOptionFocusRect option;
        option.initFrom(viewport());
        option.rect = viewport()->rect().adjusted(1, 1, -1, -1);
        option.state |= QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
        option.backgroundColor = palette().color(QPalette::Base);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
    void focusInEvent(QFocusEvent *event) override
    {
        QListWidget::focusInEvent(event);
        viewport()->update();
    }
    void focusOutEvent(QFocusEvent *event) override
    {
        QListWidget::focusOutEvent(event);
        viewport()->update();
    }
};

// The main window is a frame to a screen reader, as an application's main
// window is, not a plain piece of a window.
QAccessibleInterface *MainWindowAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String(frmKestlin_01::staticMetaObject.className()) && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

template<typename W>
W *Place(W *control, const char *name, const QRect &geometry)
{
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    return control;
}

} // namespace

frmKestlin_01::frmKestlin_01(Display &display, std::string iniFilePath, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , display_(display)
    , iniFilePath_(std::move(iniFilePath))
{
    static const bool accessibleFrame = (QAccessible::installFactory(MainWindowAccessible), true);
    (void)accessibleFrame;
    setObjectName(QStringLiteral("frmKestlin_01"));
    setWindowTitle(Text("石油動態報告ﾒｰﾙ送信"));
    setWindowIcon(KestlinIcon());
    setFont(KestlinFont());
    setFixedSize(Twips(0, 0, 6255, 5175).size());
    BuildControls();
}

frmKestlin_01::~frmKestlin_01() = default;

void frmKestlin_01::BuildControls()
{
    cmdSend_ = Place(new QPushButton(Text("送信"), this), "cmdSend", Twips(120, 120, 6015, 735));
    Frame1_ = Place(new QGroupBox(Text("添付ﾌｧｲﾙ"), this), "Frame1", Twips(120, 960, 6015, 4095));
    Label3_ = Place(new QLabel(Text("ﾒｰﾙに添付する石油動態報告ﾌｧｲﾙを指定します。"), Frame1_),
                    "Label3", Twips(120, 360, 5775, 375));
    cmdAdd_
        = Place(new QPushButton(Text("ﾌｧｲﾙ追加"), Frame1_), "cmdAdd", Twips(120, 720, 2775, 495));
    cmdDelete_ = Place(new QPushButton(Text("ﾌｧｲﾙ削除"), Frame1_), "cmdDelete",
                       Twips(3000, 720, 2895, 495));
    Label1_
        = Place(new QLabel(Text("添付ﾌｧｲﾙ一覧"), Frame1_), "Label1", Twips(120, 1320, 5775, 255));
    lstFile_ = Place(new FileListWidget(Frame1_), "lstFile", Twips(120, 1560, 5775, 2400));
    Label1_->setBuddy(lstFile_);
    lstFile_->setAccessibleName(Label1_->text());
    lstFile_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstFile_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    setTabOrder(cmdAdd_, cmdDelete_);
    setTabOrder(cmdDelete_, lstFile_);
    setTabOrder(lstFile_, cmdSend_);
    cmdAdd_->setFocus();

    for (QPushButton *button : { cmdSend_, cmdAdd_, cmdDelete_ })
        EnterPressesButton(button);

    connect(cmdAdd_, &QPushButton::clicked, this, &frmKestlin_01::cmdAdd_Click);
    connect(cmdDelete_, &QPushButton::clicked, this,
            [this] { Guarded(&frmKestlin_01::cmdDelete_Click); });
    connect(cmdSend_, &QPushButton::clicked, this,
            [this] { RunGuarded(display_, [this] { RunSendFromWindow(*this); }); });
    connect(lstFile_, &QListWidget::clicked, this,
            [this] { Guarded(&frmKestlin_01::lstFile_Click); });
    connect(lstFile_, &QListWidget::currentRowChanged, this,
            [this] { Guarded(&frmKestlin_01::lstFile_Click); });

    setAcceptDrops(true);
    for (QWidget *control : std::initializer_list<QWidget *> {
             Frame1_, Label1_, Label3_, cmdAdd_, cmdDelete_, cmdSend_, lstFile_->viewport() })
        AcceptDropsOn(control);
}

void frmKestlin_01::AcceptDropsOn(QWidget *control)
{
    control->setAcceptDrops(true);
    control->installEventFilter(this);
}

void frmKestlin_01::BuildExtraCommands()
{
    if (mnuAbout_)
        return;
    mnuSeparator_ = new QAction(this);
    mnuSeparator_->setSeparator(true);
    mnuSeparator_->setObjectName(QStringLiteral("mnuSeparator"));
    mnuAbout_ = new QAction(Text("バージョン情報"), this);
    mnuAbout_->setObjectName(QStringLiteral("mnuAbout"));
    mnuSetting_ = new QAction(Text("設定"), this);
    mnuSetting_->setObjectName(QStringLiteral("mnuSetting"));
    connect(mnuAbout_, &QAction::triggered, this,
            [this] { RunExtraCommand([this] { ShowAboutBox(this); }); });
    connect(mnuSetting_, &QAction::triggered, this, [this] {
        RunExtraCommand([this] { ShowSettingsDialog(this, display_, iniFilePath_); });
    });
    const QList<QAction *> actions { mnuSeparator_, mnuAbout_, mnuSetting_ };

    // No system menu to extend on every desktop here: the window's context
    // menu and a small button in the frame's title row offer the same items.
    addActions(actions);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    auto *menu = new QMenu(this);
    menu->addActions(actions);
    cmdMenu_ = new QToolButton(Frame1_);
    cmdMenu_->setObjectName(QStringLiteral("cmdMenu"));
    cmdMenu_->setMenu(menu);
    cmdMenu_->setPopupMode(QToolButton::InstantPopup);
    cmdMenu_->setArrowType(Qt::DownArrow);
    cmdMenu_->setAutoRaise(true);
    cmdMenu_->setAutoFillBackground(true);
    // Reached by Tab after "送信" and opened with Space or Enter, so that the
    // two commands need no mouse.
    cmdMenu_->setFocusPolicy(Qt::TabFocus);
    EnterPressesButton(cmdMenu_);
    setTabOrder(cmdSend_, cmdMenu_);
    cmdMenu_->setToolTip(Text("バージョン情報・設定"));
    cmdMenu_->setAccessibleName(cmdMenu_->toolTip());
    cmdMenu_->setGeometry(Frame1_->width() - 26, 0, 18, 15);
    cmdMenu_->show();
}

template<typename Show>
void frmKestlin_01::RunExtraCommand(Show show)
{
    // Both dialogs are modal, but a command reached again from inside one of
    // them must not open a second dialog on top of it.
    if (inExtraCommand_)
        return;
    inExtraCommand_ = true;
    RunGuarded(display_, show);
    inExtraCommand_ = false;
}

bool frmKestlin_01::Form_Load()
{
    if (!FirstRunCheck(this, display_, iniFilePath_))
        return false;
    BuildExtraCommands();
    setWindowTitle(Text(kAppTitle));
    return true;
}

void frmKestlin_01::ShowCentred()
{
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect area(QPoint(), size());
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
    show();
}

template<typename Handler>
void frmKestlin_01::Guarded(Handler handler)
{
    RunGuarded(display_, [this, handler] { (this->*handler)(); });
}

void frmKestlin_01::Form_Activate()
{
    if (!SettingsFileStillThere(iniFilePath_))
        close();
}

void frmKestlin_01::cmdAdd_Click()
{
    try {
        const auto path = display_.ChooseExistingFile("ﾌｧｲﾙを指定");
        if (path)
            AddChosenFile(*lstFile_, display_, *path);
    } catch (...) {
        // Any failure here, of the dialog, the checks or the append, is
        // ignored: the list keeps what it had, and no message is shown.
    }
}

void frmKestlin_01::cmdDelete_Click()
{
    RemoveSelectedEntries(*lstFile_);
}

void frmKestlin_01::lstFile_Click()
{
    const QListWidgetItem *item = lstFile_->currentItem();
    lstFile_->setToolTip(item ? item->text() : QString());
}

void frmKestlin_01::Form_DragDrop(const QMimeData &data)
{
    try {
        std::vector<std::string> paths;
        switch (DroppedFilePaths(data, paths)) {
        case DropContent::NoFiles:
            return;
        case DropContent::Unreadable:
            break;
        case DropContent::Files:
            AddDroppedFiles(*lstFile_, display_, paths);
            return;
        }
    } catch (...) { }
    display_.ShowMessage("そのｵﾌﾞｼﾞｪｸﾄはﾘｽﾄに追加できません。", kAppTitle, MsgIcon::Exclamation);
}

bool frmKestlin_01::event(QEvent *e)
{
    const bool handled = QWidget::event(e);
    if (e->type() == QEvent::WindowActivate)
        Guarded(&frmKestlin_01::Form_Activate);
    return handled;
}

void frmKestlin_01::keyPressEvent(QKeyEvent *e)
{
    // Shift+F10 is the Menu key of keyboards without one: the same menu, at
    // the same place, as the window system gives the Menu key.
    if (e->key() == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier) {
        QWidget *target = focusWidget() ? focusWidget() : this;
        const QPoint at = target->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, target->mapToGlobal(at));
        QApplication::sendEvent(target, &menu);
        return;
    }
    QWidget::keyPressEvent(e);
}

bool frmKestlin_01::eventFilter(QObject *watched, QEvent *e)
{
    switch (e->type()) {
    case QEvent::DragEnter:
        dragEnterEvent(static_cast<QDragEnterEvent *>(e));
        return true;
    case QEvent::DragMove:
        dragMoveEvent(static_cast<QDragMoveEvent *>(e));
        return true;
    case QEvent::Drop:
        dropEvent(static_cast<QDropEvent *>(e));
        return true;
    default:
        return QWidget::eventFilter(watched, e);
    }
}

void frmKestlin_01::dragEnterEvent(QDragEnterEvent *e)
{
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
    else
        e->ignore();
}

void frmKestlin_01::dragMoveEvent(QDragMoveEvent *e)
{
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
    else
        e->ignore();
}

void frmKestlin_01::dropEvent(QDropEvent *e)
{
    if (e->mimeData())
        Form_DragDrop(*e->mimeData());
    e->acceptProposedAction();
}

} // namespace kestlin
