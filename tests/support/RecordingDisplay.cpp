#include "support/RecordingDisplay.h"

namespace kestlin::test {

MsgResult RecordingDisplay::ShowMessage(const std::string &text, const std::string &title,
                                        MsgIcon icon, MsgButtons buttons)
{
    messages.push_back({ text, title, icon, buttons });
    if (buttons == MsgButtons::Ok)
        return MsgResult::Ok;
    if (answers.empty())
        return MsgResult::Yes;
    MsgResult answer = answers.front();
    answers.pop_front();
    return answer;
}

void RecordingDisplay::SetWaitCursor(bool wait)
{
    cursorChanges.push_back(wait);
}

std::optional<std::string> RecordingDisplay::ChooseExistingFile(const std::string &title)
{
    chooserTitles.push_back(title);
    if (chosenPaths.empty())
        return std::nullopt;
    auto path = chosenPaths.front();
    chosenPaths.pop_front();
    return path;
}

std::optional<std::string> RecordingDisplay::ChooseFolder(const std::string &title)
{
    return ChooseExistingFile(title);
}

} // namespace kestlin::test
