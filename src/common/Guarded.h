#pragma once
// Runs the work of a window's event handler so that a run-time failure inside
// it is shown to the user instead of escaping into the event loop, which
// would end the program with everything typed or listed lost.
#include "common/Display.h"

#include <exception>

namespace kestlin {

// The description shown for a failure that carries none of its own.
inline constexpr const char *kUnknownFailure = "予期しないエラーが発生しました。";

// Shows the description of a run-time failure; a failure to show it is dropped.
inline void ShowRunTimeFailure(Display &display, const char *description) noexcept
{
    try {
        display.ShowMessage(description, kAppTitle, MsgIcon::Exclamation);
    } catch (...) { }
}

// False when the work failed; its description has been shown then.
template<typename Work>
bool RunGuarded(Display &display, Work &&work) noexcept
{
    try {
        work();
        return true;
    } catch (const std::exception &e) {
        ShowRunTimeFailure(display, e.what());
    } catch (...) {
        ShowRunTimeFailure(display, kUnknownFailure);
    }
    return false;
}

} // namespace kestlin
