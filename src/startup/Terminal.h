#pragma once
// The screen of the command line: what the windows would show goes to the
// terminal as UTF-8 text, and a submission's progress is one line that
// updates itself on a terminal, or plain lines when the output is a file or a
// pipe (a scheduled job's log).
#include "common/Display.h"
#include "startup/SendSteps.h"

#include <chrono>
#include <cstdio>

namespace kestlin {

class Terminal : public Display, public SendProgress
{
public:
    // out takes the progress and what informs (the success message), err the
    // rest. interactive: out is a terminal that can take back a line.
    Terminal(std::FILE *out, std::FILE *err, bool interactive);

    // No one can answer on the command line (it may run unattended): a Yes/No
    // question is printed and answered No at once, without reading anything.
    MsgResult ShowMessage(const std::string &text, const std::string &title, MsgIcon icon,
                          MsgButtons buttons = MsgButtons::Ok) override;
    void SetWaitCursor(bool) override { }
    std::optional<std::string> ChooseExistingFile(const std::string &) override { return {}; }
    std::optional<std::string> ChooseFolder(const std::string &) override { return {}; }

    void StepStarted(const std::string &step, const std::string &label) override;
    void BytesDone(int64_t done, int64_t total) override;

    // Prints text on err (a failure), after the progress line.
    void Fail(const std::string &text);
    // Prints text on out, after the progress line.
    void Say(const std::string &text);

private:
    // Takes the updating progress line off the terminal before other text.
    void ClearLine();
    void Print(std::FILE *to, const std::string &text);
    std::string StepText() const;

    std::FILE *out_;
    std::FILE *err_;
    bool interactive_;
    bool lineShown_ = false;
    int stepNumber_ = 0;
    std::string label_;
    int64_t lastShown_ = -1; // per mille on a terminal, tenths in plain lines
    std::chrono::steady_clock::time_point lastDrawn_;
};

// "12.5 MiB" and the like.
std::string ByteCountText(int64_t bytes);

// The text with its CR LF line breaks as LF, as a terminal shows lines.
std::string TerminalLines(const std::string &text);

} // namespace kestlin
