#pragma once
// The checks that the settings must pass before anything is written: required
// fields, length in CP932 bytes, the two addresses, the three folders, in that
// order. Kept free of the window so that every rule runs in a plain test.
#include "settings/SettingsValues.h"

#include <optional>
#include <string>

namespace kestlin {

// The longest value, in CP932 bytes, that a text field may hold.
inline constexpr std::size_t kMaxSettingBytes = 255;

struct SettingsCheckFailure
{
    SettingsField field; // where the focus goes
    std::string message; // shown as it is
};

// True when the text holds nothing but spaces; the ideographic space counts as one.
bool IsBlankSetting(const std::string &text);

// The first check that fails, or nothing when every check passes.
std::optional<SettingsCheckFailure> CheckSettings(const SettingsValues &values);

} // namespace kestlin
