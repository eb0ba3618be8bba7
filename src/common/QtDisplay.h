#pragma once
// The display of the windows: Qt message boxes, the wait pointer and the
// platform's file and folder dialogs.
#include "common/Display.h"

class QWidget;

namespace kestlin {

class QtDisplay : public Display
{
public:
    // Dialogs open over owner; without one, over the window that is active
    // then, or else over a visible window of the program.
    explicit QtDisplay(QWidget *owner = nullptr);

    MsgResult ShowMessage(const std::string &text, const std::string &title, MsgIcon icon,
                          MsgButtons buttons = MsgButtons::Ok) override;
    void SetWaitCursor(bool wait) override;
    std::optional<std::string> ChooseExistingFile(const std::string &title) override;
    std::optional<std::string> ChooseFolder(const std::string &title) override;
    std::optional<std::string> ChooseFolderFrom(const std::string &title,
                                                const std::string &startFolder) override;

private:
    QWidget *Owner() const;

    QWidget *owner_;
    bool waiting_ = false;
};

} // namespace kestlin
