#include "settings/SettingsUi.h"

#include "common/Display.h"
#include "common/files.h"
#include "common/frmAbout.h"
#include "settings/frmIniFile.h"

#include <QWidget>

namespace kestlin {

namespace {

// True while one of the two extra commands shows its dialog: a second command
// arriving meanwhile (from the other menu, say) opens nothing.
bool inExtraCommand = false;

class ExtraCommandGuard
{
public:
    ExtraCommandGuard()
        : entered_(!inExtraCommand)
    {
        inExtraCommand = true;
    }
    ~ExtraCommandGuard()
    {
        if (entered_)
            inExtraCommand = false;
    }
    ExtraCommandGuard(const ExtraCommandGuard &) = delete;
    ExtraCommandGuard &operator=(const ExtraCommandGuard &) = delete;
    bool Entered() const { return entered_; }

private:
    bool entered_;
};

} // namespace

bool FirstRunCheck(QWidget *mainWindow, Display &display, const std::string &iniPath)
{
    if (OrdinaryFileExists(iniPath))
        return true;
    if (display.ShowMessage("設定ファイルを作成しますか？", kAppTitle, MsgIcon::Question,
                            MsgButtons::YesNo)
        != MsgResult::Yes)
        return false;
    // The main window is not on screen yet: centre on the screen rather than on it.
    QWidget *owner = mainWindow && mainWindow->isVisible() ? mainWindow : nullptr;
    frmIniFile dialog(owner, display, iniPath);
    dialog.exec();
    return true;
}

bool SettingsFileStillThere(const std::string &iniPath)
{
    return OrdinaryFileExists(iniPath);
}

void ShowSettingsDialog(QWidget *owner, Display &display, const std::string &iniPath)
{
    ExtraCommandGuard guard;
    if (!guard.Entered())
        return;
    frmIniFile dialog(owner, display, iniPath);
    dialog.exec();
}

void ShowAboutBox(QWidget *owner)
{
    ExtraCommandGuard guard;
    if (!guard.Entered())
        return;
    frmAbout about(owner);
    about.exec();
}

} // namespace kestlin
