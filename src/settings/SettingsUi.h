#pragma once
// What the settings side adds to the main window: the first-run question at
// load, the check at each activation, and the two extra commands.
#include <string>

class QWidget;

namespace kestlin {

class Display;

// At the main window's load, before it is shown. When no settings file exists,
// asks whether to create one and shows the settings dialog on Yes. False means
// the program must end now (the user answered No).
bool FirstRunCheck(QWidget *mainWindow, Display &display, const std::string &iniPath);

// At every activation of the main window: false when the settings file is gone
// and the main window must close.
bool SettingsFileStillThere(const std::string &iniPath);

// "設定": the settings dialog, modal over the owner.
void ShowSettingsDialog(QWidget *owner, Display &display, const std::string &iniPath);

// "バージョン情報": the About box, modal over the owner.
void ShowAboutBox(QWidget *owner);

} // namespace kestlin
