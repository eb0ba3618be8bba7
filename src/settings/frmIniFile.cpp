#include "settings/frmIniFile.h"

#include "common/ButtonKeys.h"
#include "common/Display.h"
#include "common/Guarded.h"
#include "common/basCommon.h"
#include "common/files.h"
#include "common/userfolders.h"
#include "mail/OAuthProvider.h"
#include "settings/OAuthUi.h"
#include "settings/SettingsCheck.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

namespace kestlin {

namespace {

constexpr int kFieldMaxLength = 255;
constexpr int kPortMaxLength = 9;
constexpr const char *kPortDefault = KeyInfo(SettingKey::MailPort).firstTime;
// The window's client area, 7230 by 7605 twips at 15 twips a pixel.
constexpr int kClientWidth = 482;
constexpr int kClientHeight = 507;
// Rows sit closer than the style's default so that the dialog keeps near its
// historical size.
constexpr int kRowSpacing = 4;
constexpr int kFrameMargin = 8;
// What the window system adds around the dialog (title bar, borders), kept
// free when the dialog is fitted to a small screen.
constexpr int kFrameRoomWidth = 16;
constexpr int kFrameRoomHeight = 48;
// The least height of the fields' part when the user makes the dialog small.
constexpr int kLeastFieldsHeight = 120;

// Password fields show "*" for each character, as users of this dialog have
// always seen them, instead of the style's bullet.
class StarPasswordStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

std::string S(const QString &text)
{
    return text.toStdString();
}

// A port is a run of ASCII digits, as it is stored; anything else, the empty
// text included, is not a port.
bool IsPortNumber(const QString &text)
{
    return !text.isEmpty()
           && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// A field holds one line, as the settings file stores one value per line: text
// pasted or dropped in is cut at its first line break, as a single-line edit
// box of the platform has always done. A line break reaching the file would
// end the value there and make the rest a line of its own.
void KeepFirstLine(QLineEdit *edit)
{
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString &text) {
        const auto lineBreak = std::find_if(text.begin(), text.end(),
                                            [](QChar c) { return c == u'\r' || c == u'\n'; });
        if (lineBreak != text.end())
            edit->setText(text.left(lineBreak - text.begin()));
    });
}

// What typed or committed text gives the port field: its digits, the
// full-width ones of a Japanese input method as ASCII digits, and nothing else.
QString PortDigits(const QString &typed)
{
    QString digits;
    for (QChar c : typed) {
        if (c >= u'0' && c <= u'9')
            digits += c;
        else if (c >= u'\uFF10' && c <= u'\uFF19')
            digits += QChar(u'0' + (c.unicode() - u'\uFF10'));
    }
    return digits;
}

// A key that types a character, rather than backspace, an editing shortcut
// (paste included) or a navigation key.
bool TypesCharacter(const QKeyEvent &key)
{
    const QString text = key.text();
    if (text.isEmpty())
        return false;
    const QChar c = text.front();
    return !(c < u' ' || c == QChar(0x7f));
}

// Shows the stored provider; one that the list does not know is kept as it is.
void ShowProvider(QComboBox *box, const std::string &provider)
{
    const QString value = Q(provider.empty() ? kOAuthMicrosoft : provider);
    int index = box->findData(value);
    if (index < 0) {
        box->addItem(value, value);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

} // namespace

frmIniFile::frmIniFile(QWidget *owner, Display &display, std::string iniPath)
    : QDialog(owner)
    , display_(display)
    , iniPath_(std::move(iniPath))
    , passwordStyle_(std::make_unique<StarPasswordStyle>())
{
    setObjectName("frmIniFile");
    setWindowTitle(QStringLiteral("石油動態報告メール送信設定"));
    // No minimise or maximise button on any desktop: the dialog is modal.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);
    // The program's own font, as in the main window, whatever the desktop's.
    if (owner)
        setFont(owner->window()->font());
    BuildControls();
    SetTabOrder();
    FitToScreen();
}

void frmIniFile::FitToScreen()
{
    // The whole dialog where the screen has room for it, as it has always
    // looked; on a smaller (or more scaled) screen the fields scroll and
    // "設定" and "終了" stay in view below them.
    const QSize fields = scroll_->widget()->sizeHint();
    const QSize commands = commandsRow_->sizeHint();
    const QSize whole(std::max({ kClientWidth, fields.width(), commands.width() }),
                      std::max(kClientHeight, fields.height() + kRowSpacing + commands.height()));
    QSize room = whole;
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        room = QSize(area.width() - kFrameRoomWidth, area.height() - kFrameRoomHeight);
    }
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    QSize fitted = whole.boundedTo(room);
    // The scroll bar takes room of its own once the fields no longer fit.
    if (fitted.height() < whole.height())
        fitted.setWidth(std::min(whole.width() + scrollBar, room.width()));
    setMinimumSize(std::min(fitted.width(), commands.width()),
                   std::min(fitted.height(), kLeastFieldsHeight + kRowSpacing + commands.height()));
    setMaximumSize(whole.width() + scrollBar, whole.height());
    resize(fitted);
}

frmIniFile::~frmIniFile()
{
    // The fields go back to the shared style before their own one is destroyed.
    txtUPassWord_->setStyle(nullptr);
    txtMPassWord_->setStyle(nullptr);
}

void frmIniFile::BuildControls()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(kRowSpacing);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("scrFields");
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setFocusPolicy(Qt::NoFocus);
    outer->addWidget(scroll_);
    auto *fields = new QWidget;
    fields->setObjectName("fields");
    auto *layout = new QVBoxLayout(fields);
    layout->setContentsMargins(kFrameMargin, kFrameMargin, kFrameMargin, 0);
    layout->setSpacing(kRowSpacing);
    // One label column for all frames: the widest caption sets it.
    const int labelWidth
        = fontMetrics().horizontalAdvance(QStringLiteral("送信メールアドレス")) + kFrameMargin;
    auto frame = [&](const char *name, const QString &caption) {
        auto *box = new QGroupBox(caption, fields);
        box->setObjectName(name);
        layout->addWidget(box);
        auto *grid = new QGridLayout(box);
        grid->setContentsMargins(kFrameMargin, kRowSpacing, kFrameMargin, kFrameMargin);
        grid->setVerticalSpacing(kRowSpacing);
        grid->setColumnMinimumWidth(0, labelWidth);
        grid->setColumnStretch(1, 1);
        return grid;
    };
    // A row's caption names its control for a screen reader too.
    auto label = [](QGridLayout *grid, const char *name, const QString &caption, QWidget *control) {
        auto *l = new QLabel(caption);
        l->setObjectName(name);
        l->setBuddy(control);
        control->setAccessibleName(caption);
        // An empty grid already counts one row.
        const int row = grid->count() == 0 ? 0 : grid->rowCount();
        grid->addWidget(l, row, 0);
        return row;
    };
    auto field
        = [&](QGridLayout *grid, const char *labelName, const QString &caption, const char *name) {
              auto *edit = new QLineEdit;
              const int row = label(grid, labelName, caption, edit);
              edit->setObjectName(name);
              edit->setMaxLength(kFieldMaxLength);
              KeepFirstLine(edit);
              grid->addWidget(edit, row, 1);
              return edit;
          };

    QGridLayout *user = frame("fraUser", QStringLiteral("ユーザー設定"));
    txtUHoukoku_ = field(user, "lblUHoukoku", QStringLiteral("報告ID"), "txtUHoukoku");
    txtUUserId_ = field(user, "lblUUserId", QStringLiteral("ユーザーID"), "txtUUserId");
    txtUPassWord_ = field(user, "lblUPassWord", QStringLiteral("パスワード"), "txtUPassWord");
    txtUMailAdress_
        = field(user, "lblUMailAdress", QStringLiteral("返信メールアドレス"), "txtUMailAdress");

    QGridLayout *mail = frame("fraMail", QStringLiteral("メール設定"));
    txtMSmtp_ = field(mail, "lblMSmtp", QStringLiteral("SMTP"), "txtMSmtp");
    {
        txtMPort_ = new QLineEdit;
        const int row = label(mail, "lblMPort", QStringLiteral("ポート"), txtMPort_);
        txtMPort_->setObjectName("txtMPort");
        txtMPort_->setMaxLength(kPortMaxLength);
        KeepFirstLine(txtMPort_);
        txtMPort_->setInputMethodHints(Qt::ImhDigitsOnly);
        txtMPort_->setFixedWidth(txtMPort_->fontMetrics().horizontalAdvance(QString(12, u'0')));
        mail->addWidget(txtMPort_, row, 1, Qt::AlignLeft);
    }
    {
        auto *box = new QGroupBox;
        const int row = label(mail, "lblMSmtpM", QStringLiteral("SMTP認証"), box);
        mail->itemAtPosition(row, 0)->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        box->setObjectName("fraSmtp");
        auto *grid = new QGridLayout(box);
        grid->setContentsMargins(kFrameMargin, kRowSpacing, kFrameMargin, kRowSpacing);
        grid->setVerticalSpacing(kRowSpacing);
        auto *group = new QButtonGroup(box);
        const struct
        {
            const char *name;
            const char *caption;
            int row, column;
        } options[] = {
            { "optNon", "認証なし", 0, 0 },
            { "optPBS", "POP Before SMTP", 0, 1 },
            { "optSAL", "SMTP Auth LOGIN", 0, 2 },
            { "optSAC", "SMTP AUTH CRAM-MD5", 1, 0 },
            { "optAP", "AUTH PLAIN", 1, 2 },
            { "optOAuth", "OAuth 2.0 (Microsoft 365 / Google)", 2, 0 },
        };
        for (size_t code = 0; code < opt_.size(); ++code) {
            auto *button = new QRadioButton(QString::fromUtf8(options[code].caption));
            button->setObjectName(options[code].name);
            grid->addWidget(button, options[code].row, options[code].column);
            group->addButton(button, static_cast<int>(code));
            connect(button, &QRadioButton::toggled, this,
                    [this] { RunGuarded(display_, [this] { FncSetCertify(); }); });
            opt_[code] = button;
        }
        grid->addWidget(opt_[kCertifyOAuth], 2, 0, 1, 3);
        BuildOAuthRow(grid);
        mail->addWidget(box, row, 1);
    }
    txtMUserId_ = field(mail, "lblMUserId", QStringLiteral("ユーザーID"), "txtMUserId");
    txtMPassWord_ = field(mail, "lblMPassWord", QStringLiteral("パスワード"), "txtMPassWord");
    txtMSubject_ = field(mail, "lblMSubject", QStringLiteral("表題"), "txtMSubject");
    txtMMailAdress_
        = field(mail, "lblMMailAdress", QStringLiteral("送信メールアドレス"), "txtMMailAdress");
    // The two frames both have a user ID and a password: each says whose.
    for (QLineEdit *edit : { txtUUserId_, txtUPassWord_ })
        edit->setAccessibleName(edit->accessibleName() + QStringLiteral("（ユーザー設定）"));
    for (QLineEdit *edit : { txtMUserId_, txtMPassWord_ })
        edit->setAccessibleName(edit->accessibleName() + QStringLiteral("（メール設定）"));

    QGridLayout *system = frame("fraSystem", QStringLiteral("システム設定"));
    txtSLog_ = field(system, "lblLog", QStringLiteral("LOG"), "txtSLog");
    txtSTempLog_ = field(system, "Label14", QStringLiteral("添付ファイルLOG"), "txtSTempLog");
    txtSTemp_ = field(system, "Label12", QStringLiteral("作業ﾌｫﾙﾀﾞ"), "txtSTemp");
    const QString folderNames[]
        = { QStringLiteral("LOGフォルダを選択"), QStringLiteral("添付ファイルLOGフォルダを選択"),
            QStringLiteral("作業フォルダを選択") };
    for (int index = 0; index < 3; ++index) {
        auto *button = new QPushButton(QStringLiteral("…"));
        button->setObjectName("cmdDialog");
        button->setProperty("index", index);
        button->setAccessibleName(folderNames[index]);
        button->setToolTip(folderNames[index]);
        button->setAutoDefault(false);
        button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("……")) + 12);
        system->addWidget(button, index, 2);
        connect(button, &QPushButton::clicked, this,
                [this, index] { RunGuarded(display_, [this, index] { OnFolderButton(index); }); });
        cmdDialog_[static_cast<size_t>(index)] = button;
    }

    scroll_->setWidget(fields);
    // The field with the focus is scrolled into view, however it got there
    // (Tab, Shift+Tab back from "設定", a click, a failed check).
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now && scroll_->widget()->isAncestorOf(now))
            scroll_->ensureWidgetVisible(now);
    });
    auto *commands = new QGroupBox(this);
    commands->setObjectName("fraCommand");
    commandsRow_ = new QHBoxLayout;
    commandsRow_->setContentsMargins(kFrameMargin, 0, kFrameMargin, kFrameMargin);
    commandsRow_->addWidget(commands);
    outer->addLayout(commandsRow_);
    auto *row = new QHBoxLayout(commands);
    row->setContentsMargins(kFrameMargin, kRowSpacing, kFrameMargin, kRowSpacing);
    cmdEstablish_ = new QPushButton(QStringLiteral("設定"));
    cmdEstablish_->setObjectName("cmdEstablish");
    cmdEnd_ = new QPushButton(QStringLiteral("終了"));
    cmdEnd_->setObjectName("cmdEnd");
    // No default button: Enter in a field must not save or close. Enter on
    // a button presses that button.
    for (QPushButton *button : { cmdEstablish_, cmdEnd_ })
        button->setAutoDefault(false);
    for (QPushButton *button :
         { cmdDialog_[0], cmdDialog_[1], cmdDialog_[2], cmdEstablish_, cmdEnd_ })
        EnterPressesButton(button);
    row->addWidget(cmdEstablish_);
    row->addStretch();
    row->addWidget(cmdEnd_);
    connect(cmdEstablish_, &QPushButton::clicked, this,
            [this] { RunGuarded(display_, [this] { OnEstablish(); }); });
    connect(cmdEnd_, &QPushButton::clicked, this, &QDialog::reject);

    for (QLineEdit *password : { txtUPassWord_, txtMPassWord_ }) {
        password->setEchoMode(QLineEdit::Password);
        password->setStyle(passwordStyle_.get());
    }
    txtMPort_->installEventFilter(this);
    connect(txtMPort_, &QLineEdit::textChanged, this,
            [this] { RunGuarded(display_, [this] { OnPortChanged(); }); });
}

void frmIniFile::BuildOAuthRow(QGridLayout *methods)
{
    auto *row = new QHBoxLayout;
    cboOProvider_ = new QComboBox;
    cboOProvider_->setObjectName("cboOProvider");
    cboOProvider_->setAccessibleName(QStringLiteral("OAuthのプロバイダー"));
    cboOProvider_->addItem(QStringLiteral("Microsoft 365"), QString(kOAuthMicrosoft));
    cboOProvider_->addItem(QStringLiteral("Google"), QString(kOAuthGoogle));
    // The endpoints of another provider are given in the settings file.
    cboOProvider_->addItem(QStringLiteral("その他"), QString(kOAuthCustom));
    // The client ID (a GUID at Microsoft) needs the room more than the list.
    cboOProvider_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboOProvider_->setMinimumContentsLength(12);
    // A screen reader names the box by its current choice: its list items
    // say that they are the choices of the provider.
    for (int i = 0; i < cboOProvider_->count(); ++i)
        cboOProvider_->setItemData(
            i, QStringLiteral("プロバイダーの選択肢: ") + cboOProvider_->itemText(i),
            Qt::AccessibleTextRole);
    txtOClientId_ = new QLineEdit;
    txtOClientId_->setObjectName("txtOClientId");
    txtOClientId_->setAccessibleName(QStringLiteral("OAuthのクライアントID"));
    txtOClientId_->setPlaceholderText(QStringLiteral("クライアントID"));
    txtOClientId_->setMaxLength(kFieldMaxLength);
    KeepFirstLine(txtOClientId_);
    cmdAuthorize_ = new QPushButton(QStringLiteral("認可"));
    cmdAuthorize_->setObjectName("cmdAuthorize");
    cmdAuthorize_->setAccessibleName(QStringLiteral("OAuth 2.0 の認可"));
    cmdAuthorize_->setAutoDefault(false);
    EnterPressesButton(cmdAuthorize_);
    row->addWidget(cboOProvider_);
    row->addWidget(txtOClientId_, 1);
    row->addWidget(cmdAuthorize_);
    methods->addLayout(row, 3, 0, 1, 3);
    connect(cboOProvider_, &QComboBox::activated, this,
            [this] { RunGuarded(display_, [this] { OnProviderChosen(); }); });
    connect(cmdAuthorize_, &QPushButton::clicked, this,
            [this] { RunGuarded(display_, [this] { OnAuthorize(); }); });
}

// A preset provider's mail server where none has been typed yet.
void frmIniFile::OnProviderChosen()
{
    const OAuthMailServer server = PresetMailServer(S(cboOProvider_->currentData().toString()));
    if (server.host.empty() || !txtMSmtp_->text().trimmed().isEmpty())
        return;
    txtMSmtp_->setText(Q(server.host));
    txtMPort_->setText(QString::number(server.port));
}

void frmIniFile::OnAuthorize()
{
    OAuthSettings settings = ReadOAuthSettings(iniPath_);
    settings.provider = S(cboOProvider_->currentData().toString());
    settings.clientId = S(txtOClientId_->text());
    AuthorizeInWindow(this, display_, iniPath_, settings);
}

void frmIniFile::SetTabOrder()
{
    QWidget *const order[] = {
        txtUHoukoku_,    txtUUserId_,   txtUPassWord_, txtUMailAdress_, txtMSmtp_,     txtMPort_,
        opt_[0],         opt_[1],       opt_[2],       opt_[3],         opt_[4],       opt_[5],
        cboOProvider_,   txtOClientId_, cmdAuthorize_, txtMUserId_,     txtMPassWord_, txtMSubject_,
        txtMMailAdress_, txtSLog_,      cmdDialog_[0], txtSTempLog_,    cmdDialog_[1], txtSTemp_,
        cmdDialog_[2],   cmdEstablish_, cmdEnd_,
    };
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void frmIniFile::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    RunGuarded(display_, [this] { Activate(); });
}

void frmIniFile::keyPressEvent(QKeyEvent *event)
{
    // The form has no cancel button: Esc, often pressed once too many after
    // the input method's candidate list, must not throw away what was typed.
    // "終了" and the window's close button still close without saving.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmIniFile::Activate()
{
    if (activated_)
        return;
    constexpr const char *kLoadFailed = "INIﾌｧｲﾙを取得中にｴﾗｰが発生しました。";
    constexpr const char *kDefaultsFailed = "初期画面を設定中にｴﾗｰが発生しました。";
    newFile_ = !OrdinaryFileExists(iniPath_);
    if (!FncLoadIni(newFile_ ? 0 : 1))
        display_.ShowMessage(newFile_ ? kDefaultsFailed : kLoadFailed, kAppTitle,
                             MsgIcon::Exclamation);
    activated_ = true;
}

bool frmIniFile::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != txtMPort_)
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (!TypesCharacter(*key))
            return false;
        const QString digits = PortDigits(key->text());
        if (digits == key->text())
            return false;
        // A full-width digit goes in as its ASCII digit; anything else is dropped.
        if (!digits.isEmpty())
            txtMPort_->insert(digits);
        return true;
    }
    if (event->type() == QEvent::InputMethod) {
        // Text the input method commits, as it does for digits typed with it on.
        const auto *input = static_cast<QInputMethodEvent *>(event);
        const QString digits = PortDigits(input->commitString());
        if (digits == input->commitString())
            return false;
        QInputMethodEvent filtered(input->preeditString(), input->attributes());
        filtered.setCommitString(digits, input->replacementStart(), input->replacementLength());
        QCoreApplication::sendEvent(txtMPort_, &filtered);
        return true;
    }
    return false;
}

void frmIniFile::OnPortChanged()
{
    if (!IsPortNumber(txtMPort_->text()))
        txtMPort_->setText(kPortDefault);
    // The limit is on typing: a longer port read from the settings file is
    // shown whole (see ShowValues) until it is edited down to the limit.
    if (txtMPort_->maxLength() > kPortMaxLength && txtMPort_->text().size() <= kPortMaxLength) {
        const int cursor = txtMPort_->cursorPosition();
        txtMPort_->setMaxLength(kPortMaxLength);
        txtMPort_->setCursorPosition(cursor);
    }
}

bool frmIniFile::FncLoadIni(int16_t mode)
{
    ShowValues(SettingsValues {});
    std::string failure;
    bool loaded = true;
    try {
        if (mode == 1) {
            SettingsValues values;
            SettingsLoadFailure stop;
            loaded = LoadSettingsFile(iniPath_, values, stop);
            failure = stop.message;
            ShowValues(values);
        } else if (mode == 0) {
            ShowValues(
                FirstTimeSettings(GetSpecialFolder(kDocumentsFolder), LocateFiles().workFolder));
        }
    } catch (const std::exception &e) {
        failure = e.what();
        loaded = false;
    } catch (...) {
        failure = kUnknownFailure;
        loaded = false;
    }
    if (!failure.empty())
        display_.ShowMessage(failure, kAppTitle, MsgIcon::Exclamation);
    return loaded;
}

void frmIniFile::ShowValues(const SettingsValues &v)
{
    const std::pair<QLineEdit *, const std::string *> texts[] = {
        { txtUHoukoku_, &v.uHoukoku },   { txtUUserId_, &v.uUserId },
        { txtUPassWord_, &v.uPassWord }, { txtUMailAdress_, &v.uMailAdress },
        { txtMSmtp_, &v.mSmtp },         { txtMPort_, &v.mPort },
        { txtMUserId_, &v.mUserId },     { txtMPassWord_, &v.mPassWord },
        { txtMSubject_, &v.mSubject },   { txtMMailAdress_, &v.mMailAdress },
        { txtSLog_, &v.sLog },           { txtSTempLog_, &v.sTempLog },
        { txtSTemp_, &v.sTemp },
    };
    txtMPort_->setMaxLength(std::max<int>(kPortMaxLength, Q(v.mPort).size()));
    for (const auto &[edit, text] : texts)
        edit->setText(Q(*text));
    // Setting the text it already has is no change to Qt, but the port rule
    // must still turn an empty port into the default.
    OnPortChanged();
    // Without a method (a load that stopped before it) the choice stays as it was.
    ShowProvider(cboOProvider_, v.oProvider);
    txtOClientId_->setText(Q(v.oClientId));
    if (v.certify >= kCertifyNone && v.certify <= kCertifyOAuth)
        opt_[static_cast<size_t>(v.certify)]->setChecked(true);
}

SettingsValues frmIniFile::Values() const
{
    SettingsValues v;
    v.uHoukoku = S(txtUHoukoku_->text());
    v.uUserId = S(txtUUserId_->text());
    v.uPassWord = S(txtUPassWord_->text());
    v.uMailAdress = S(txtUMailAdress_->text());
    v.mSmtp = S(txtMSmtp_->text());
    v.mPort = S(txtMPort_->text());
    for (size_t code = 0; code < opt_.size(); ++code) {
        if (opt_[code]->isChecked())
            v.certify = static_cast<int16_t>(code);
    }
    v.mUserId = S(txtMUserId_->text());
    v.mPassWord = S(txtMPassWord_->text());
    v.mSubject = S(txtMSubject_->text());
    v.mMailAdress = S(txtMMailAdress_->text());
    v.sLog = S(txtSLog_->text());
    v.sTempLog = S(txtSTempLog_->text());
    v.sTemp = S(txtSTemp_->text());
    v.oProvider = S(cboOProvider_->currentData().toString());
    v.oClientId = S(txtOClientId_->text());
    return v;
}

void frmIniFile::FncSetCertify()
{
    const bool none = opt_[0]->isChecked();
    const bool any = std::any_of(opt_.begin(), opt_.end(), [](auto *b) { return b->isChecked(); });
    if (!any)
        return;
    const bool oauth = opt_[kCertifyOAuth]->isChecked();
    txtMUserId_->setEnabled(!none);
    // With OAuth 2.0 a token takes the password's place.
    txtMPassWord_->setEnabled(!none && !oauth);
    for (QWidget *w :
         std::initializer_list<QWidget *> { cboOProvider_, txtOClientId_, cmdAuthorize_ })
        w->setEnabled(oauth);
}

QWidget *frmIniFile::FieldWidget(SettingsField field) const
{
    switch (field) {
    case SettingsField::txtUHoukoku:
        return txtUHoukoku_;
    case SettingsField::txtUUserId:
        return txtUUserId_;
    case SettingsField::txtUPassWord:
        return txtUPassWord_;
    case SettingsField::txtUMailAdress:
        return txtUMailAdress_;
    case SettingsField::txtMSmtp:
        return txtMSmtp_;
    case SettingsField::txtMPort:
        return txtMPort_;
    case SettingsField::optNon:
        return opt_[0];
    case SettingsField::txtMUserId:
        return txtMUserId_;
    case SettingsField::txtMPassWord:
        return txtMPassWord_;
    case SettingsField::txtMSubject:
        return txtMSubject_;
    case SettingsField::txtMMailAdress:
        return txtMMailAdress_;
    case SettingsField::txtSLog:
        return txtSLog_;
    case SettingsField::txtSTempLog:
        return txtSTempLog_;
    case SettingsField::txtSTemp:
        return txtSTemp_;
    case SettingsField::cboOProvider:
        return cboOProvider_;
    case SettingsField::txtOClientId:
        return txtOClientId_;
    }
    return nullptr;
}

std::optional<SettingsCheckFailure> frmIniFile::CheckValues(const SettingsValues &values) const
{
    return CheckSettings(values);
}

bool frmIniFile::FncChkInput()
{
    std::optional<SettingsCheckFailure> failure;
    // A run-time failure of the checks is shown and counts as a failed check.
    if (!RunGuarded(display_, [&] { failure = CheckValues(Values()); }))
        return false;
    if (!failure)
        return true;
    display_.ShowMessage(failure->message, kAppTitle, MsgIcon::Exclamation);
    if (QWidget *widget = FieldWidget(failure->field))
        widget->setFocus(Qt::OtherFocusReason);
    return false;
}

bool frmIniFile::FncSaveIni()
{
    std::string failure;
    if (SaveSettingsFile(iniPath_, Values(), newFile_, failure))
        return true;
    display_.ShowMessage(failure, kAppTitle, MsgIcon::Exclamation);
    return false;
}

void frmIniFile::OnFolderButton(int index)
{
    QLineEdit *target[] = { txtSLog_, txtSTempLog_, txtSTemp_ };
    // The chooser opens in the folder the field names, where there is one.
    std::optional<std::string> chosen = BrowseFolder(display_, 0, S(target[index]->text()));
    if (!chosen)
        return;
    std::erase(*chosen, '\0');
    target[index]->setText(Q(*chosen));
}

void frmIniFile::OnEstablish()
{
    if (FncChkInput() && FncSaveIni())
        accept();
}

} // namespace kestlin
