// Placeholder until the settings dialog and the About box exist.
#include "settings/SettingsUi.h"

#include "common/files.h"

namespace kestlin {

bool FirstRunCheck(QWidget *, Display &, const std::string &)
{
    return true;
}

bool SettingsFileStillThere(const std::string &iniPath)
{
    return OrdinaryFileExists(iniPath);
}

void ShowSettingsDialog(QWidget *, Display &, const std::string &) { }

void ShowAboutBox(QWidget *) { }

} // namespace kestlin
