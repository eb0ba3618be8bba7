#pragma once
// Reading the settings dialog's values from the settings file and writing them
// back, without the window: the fixed order of the keys, the stops, the two
// encrypted passwords and the clean-up of a first save that breaks off.
#include "settings/SettingsKeys.h"
#include "settings/SettingsValues.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestlin {

// The values a dialog shows when there is no settings file yet.
SettingsValues FirstTimeSettings(const std::string &documentsFolder,
                                 const std::string &programFolder);

// A stored number converted the way the settings have always been read: blanks
// around it, a sign and a fraction allowed, rounded half to even. False with the
// description of the failure when the text is not a number or the result does
// not fit into 16 bits.
bool ToInt16(const std::string &text, int16_t &number, std::string &failure);

// Where and why a load stopped.
struct SettingsLoadFailure
{
    // The stored password that cannot be decrypted; that stop has no message
    // of its own.
    std::optional<SettingKey> undecryptable;
    // Any other stop (a method code that is not a 16-bit number): the text to show.
    std::string message;
};

// Fills values from the file key by key. Stops at the first failure (false)
// and keeps what was read before it.
bool LoadSettingsFile(const std::string &iniPath, SettingsValues &values,
                      SettingsLoadFailure &failure);

// Writes every value in the fixed order, stopping at the first failure with
// the text to show. newFile: the dialog found no settings file when it opened;
// then a broken-off save deletes the file it began.
bool SaveSettingsFile(const std::string &iniPath, const SettingsValues &values, bool newFile,
                      std::string &failure);

} // namespace kestlin
