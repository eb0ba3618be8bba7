#pragma once
// Windows only: the two extra commands in the title-bar (system) menu of the
// main window, served by a window procedure placed in front of the window's
// own. Desktops without such a menu offer the same commands in the window's
// own menus instead; this file is built only for Windows.
#ifdef _WIN32
#include <functional>
#include <windows.h>

namespace kestlin {

// Menu command ids of the two items.
inline constexpr UINT kSysMenuAbout = 256;
inline constexpr UINT kSysMenuSettings = 257;

// Appends a separator, "バージョン情報" and "設定" to the window's system menu and
// installs the hook. False when an item cannot be appended: the caller ends the
// program before the window is shown.
bool InstallSysMenuHook(HWND window, std::function<void()> showAbout,
                        std::function<void()> showSettings);

// Gives the window back the procedure it had before the hook.
void RemoveSysMenuHook(HWND window);

} // namespace kestlin
#endif
