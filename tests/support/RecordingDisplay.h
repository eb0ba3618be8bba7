#pragma once
// A display for tests: records every message and pointer change and answers
// questions and choosers from scripted replies.
#include "common/Display.h"

#include <deque>
#include <string>
#include <vector>

namespace kestlin::test {

struct ShownMessage
{
    std::string text;
    std::string title;
    MsgIcon icon;
    MsgButtons buttons;
};

class RecordingDisplay : public Display
{
public:
    MsgResult ShowMessage(const std::string &text, const std::string &title, MsgIcon icon,
                          MsgButtons buttons) override;
    void SetWaitCursor(bool wait) override;
    std::optional<std::string> ChooseExistingFile(const std::string &title) override;
    std::optional<std::string> ChooseFolder(const std::string &title) override;

    std::vector<ShownMessage> messages;
    std::vector<bool> cursorChanges; // every SetWaitCursor call, in order
    std::vector<std::string> chooserTitles;

    // Answers, taken from the front; when empty: Yes to questions, cancel to choosers.
    std::deque<MsgResult> answers;
    std::deque<std::optional<std::string>> chosenPaths;
};

} // namespace kestlin::test
