#include "startup/Terminal.h"

namespace kestlin {

namespace {

// The steps one submission announces, for "(3/9)".
constexpr int kStepCount = 9;

} // namespace

Terminal::Terminal(std::FILE *out, std::FILE *err, bool interactive)
    : out_(out)
    , err_(err)
    , interactive_(interactive)
{ }

std::string ByteCountText(int64_t bytes)
{
    char text[32];
    if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
    else
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024 * 1024));
    return text;
}

std::string TerminalLines(const std::string &text)
{
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        lines += text[i];
    }
    return lines;
}

MsgResult Terminal::ShowMessage(const std::string &text, const std::string &, MsgIcon icon,
                                MsgButtons buttons)
{
    if (buttons == MsgButtons::YesNo) {
        Fail(text + "\n（コマンドラインでは確認に答えられないため、「いいえ」として続けます）");
        return MsgResult::No;
    }
    if (icon == MsgIcon::Information)
        Say(text);
    else
        Fail(text);
    return MsgResult::Ok;
}

void Terminal::StepStarted(const std::string &, const std::string &label)
{
    ++stepNumber_;
    label_ = label;
    lastShown_ = -1;
    if (interactive_) {
        std::fprintf(out_, "\r\033[K%s", StepText().c_str());
        lineShown_ = true;
    } else {
        std::fprintf(out_, "%s\n", StepText().c_str());
    }
    std::fflush(out_);
}

void Terminal::BytesDone(int64_t done, int64_t total)
{
    // A block-by-block report must not flood a terminal (a slow remote one
    // included), nor a log file: a log gets a line per tenth, a terminal at
    // most ten redraws a second, the first and the last always.
    const int64_t scale = interactive_ ? 1000 : 10;
    const int64_t shown = total > 0 ? done * scale / total : scale;
    const auto now = std::chrono::steady_clock::now();
    if (shown == lastShown_
        || (interactive_ && lastShown_ >= 0 && shown < scale
            && now - lastDrawn_ < std::chrono::milliseconds(100)))
        return;
    lastShown_ = shown;
    lastDrawn_ = now;
    const std::string bytes = ByteCountText(done) + " / " + ByteCountText(total);
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    if (interactive_) {
        std::fprintf(out_, "\r\033[K%s %3d%% (%s)", StepText().c_str(), percent, bytes.c_str());
        lineShown_ = true;
    } else {
        std::fprintf(out_, "%s %d%% (%s)\n", StepText().c_str(), percent, bytes.c_str());
    }
    std::fflush(out_);
}

std::string Terminal::StepText() const
{
    return "(" + std::to_string(stepNumber_) + "/" + std::to_string(kStepCount) + ") " + label_;
}

void Terminal::Fail(const std::string &text)
{
    Print(err_, text);
}

void Terminal::Say(const std::string &text)
{
    Print(out_, text);
}

void Terminal::ClearLine()
{
    if (!lineShown_)
        return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    lineShown_ = false;
}

void Terminal::Print(std::FILE *to, const std::string &text)
{
    ClearLine();
    std::fprintf(to, "%s\n", TerminalLines(text).c_str());
    std::fflush(to);
}

} // namespace kestlin
