#pragma once
// Everything that shows something to the user or asks something goes through
// this interface: the windows use the Qt implementation, the tests one that
// records and answers, so that every piece of logic runs without a screen.
#include <optional>
#include <string>

namespace kestlin {

enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No };

// The title of every message box of the program, but for the few that say otherwise.
inline constexpr const char *kAppTitle = "石油動態報告メール送信";
// The application's own title, used where the program name itself is shown.
inline constexpr const char *kProgramName = "Kestlin";

class Display
{
public:
    virtual ~Display() = default;

    // A modal message box; returns the button pressed.
    virtual MsgResult ShowMessage(const std::string &text, const std::string &title, MsgIcon icon,
                                  MsgButtons buttons = MsgButtons::Ok)
        = 0;

    // The wait pointer on (true) or back to the default (false).
    virtual void SetWaitCursor(bool wait) = 0;

    // The platform's open-file dialog for one existing file; nothing when cancelled.
    virtual std::optional<std::string> ChooseExistingFile(const std::string &title) = 0;

    // The platform's folder chooser, folders only; nothing when cancelled.
    virtual std::optional<std::string> ChooseFolder(const std::string &title) = 0;

    // The same, opening in startFolder when that is an existing folder. A
    // display that cannot start anywhere in particular asks as ChooseFolder.
    virtual std::optional<std::string> ChooseFolderFrom(const std::string &title,
                                                        const std::string & /*startFolder*/)
    {
        return ChooseFolder(title);
    }
};

} // namespace kestlin
