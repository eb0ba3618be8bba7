#include "common/SysMenuHook.h"

#include <string>
#include <utility>

namespace kestlin {

namespace {

WNDPROC PrevWndProc = nullptr;
// Set while a dialog opened from the menu is showing, so that nested message
// processing inside it cannot open a second one.
bool InSysCommand = false;
std::function<void()> ShowAbout;
std::function<void()> ShowSettings;

std::wstring Wide(const char *utf8)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

LRESULT CALLBACK SysMenuWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!InSysCommand && message == WM_SYSCOMMAND) {
        InSysCommand = true;
        if (wParam == kSysMenuAbout && ShowAbout)
            ShowAbout();
        else if (wParam == kSysMenuSettings && ShowSettings)
            ShowSettings();
        InSysCommand = false;
    }
    // Every message, the two items included, still reaches the window's own procedure.
    return ::CallWindowProcW(PrevWndProc, window, message, wParam, lParam);
}

} // namespace

bool InstallSysMenuHook(HWND window, std::function<void()> showAbout,
                        std::function<void()> showSettings)
{
    HMENU menu = ::GetSystemMenu(window, FALSE);
    if (!menu || !::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr)
        || !::AppendMenuW(menu, MF_STRING, kSysMenuAbout, Wide("バージョン情報").c_str())
        || !::AppendMenuW(menu, MF_STRING, kSysMenuSettings, Wide("設定").c_str()))
        return false;
    ShowAbout = std::move(showAbout);
    ShowSettings = std::move(showSettings);
    PrevWndProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SysMenuWndProc)));
    return true;
}

void RemoveSysMenuHook(HWND window)
{
    if (!PrevWndProc)
        return;
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PrevWndProc));
    PrevWndProc = nullptr;
    ShowAbout = nullptr;
    ShowSettings = nullptr;
}

} // namespace kestlin
