#pragma once
// The main window: the list of report files to send, the buttons that fill
// and empty it, and "送信", which hands the list to the send pipeline.
#include <QWidget>
#include <string>

class QAction;
class QGroupBox;
class QLabel;
class QListWidget;
class QMimeData;
class QPushButton;
class QToolButton;

namespace kestlin {

class Display;

class frmKestlin_01 : public QWidget
{
    Q_OBJECT

public:
    // Messages and dialogs go through display; iniFilePath is the settings file.
    frmKestlin_01(Display &display, std::string iniFilePath, QWidget *parent = nullptr);
    ~frmKestlin_01() override;

    // The window's load: the first-run check of the settings, the two extra
    // commands and the caption. False when the program must end instead.
    bool Form_Load();
    // Shows the window, not modally, centred on the screen.
    void ShowCentred();

    QListWidget *lstFile() const { return lstFile_; }
    QPushButton *cmdAdd() const { return cmdAdd_; }
    QPushButton *cmdDelete() const { return cmdDelete_; }
    QPushButton *cmdSend() const { return cmdSend_; }
    QGroupBox *Frame1() const { return Frame1_; }
    // The small button that opens the menu of the extra commands.
    QToolButton *cmdMenu() const { return cmdMenu_; }
    QAction *mnuAbout() const { return mnuAbout_; }
    QAction *mnuSetting() const { return mnuSetting_; }

    Display &display() { return display_; }
    const std::string &iniFilePath() const { return iniFilePath_; }

    // Shared by the steps of one submission and kept until the next one.
    std::string strWorkSpace;
    std::string strSendFile;

    // The handlers, callable as the events would call them.
    void cmdAdd_Click();
    void cmdDelete_Click();
    void lstFile_Click();
    void Form_DragDrop(const QMimeData &data);
    void Form_Activate();

protected:
    bool event(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dragMoveEvent(QDragMoveEvent *e) override;
    void dropEvent(QDropEvent *e) override;

private:
    void BuildControls();
    void BuildExtraCommands();
    void AcceptDropsOn(QWidget *control);
    template<typename Show>
    void RunExtraCommand(Show show);
    // Runs a handler; a run-time failure in it is shown, not passed on to Qt.
    template<typename Handler>
    void Guarded(Handler handler);

    Display &display_;
    std::string iniFilePath_;

    QPushButton *cmdSend_ = nullptr;
    QGroupBox *Frame1_ = nullptr;
    QLabel *Label3_ = nullptr;
    QPushButton *cmdAdd_ = nullptr;
    QPushButton *cmdDelete_ = nullptr;
    QLabel *Label1_ = nullptr;
    QListWidget *lstFile_ = nullptr;
    QToolButton *cmdMenu_ = nullptr;
    QAction *mnuSeparator_ = nullptr;
    QAction *mnuAbout_ = nullptr;
    QAction *mnuSetting_ = nullptr;

    // Set while the About box or the settings dialog is open from the menu.
    bool inExtraCommand_ = false;
};

} // namespace kestlin
