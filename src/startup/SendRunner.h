#pragma once
// Runs one submission for a window: the checks and the final message on the
// window's thread, the steps on a worker thread behind frmProgress, so that
// the window keeps painting during a long send but takes no input.
#include <string>

class QAbstractButton;
class QListWidget;
class QWidget;

namespace kestlin {

class Display;

struct SendWindowParts
{
    QWidget *owner = nullptr; // the main window
    QListWidget *list = nullptr; // lstFile
    QAbstractButton *addButton = nullptr; // cmdAdd, focused after a success
    Display *display = nullptr;
    std::string iniFilePath;
    std::string *strWorkSpace = nullptr; // the window's members, kept between submissions
    std::string *strSendFile = nullptr;
};

void RunSendWithProgress(const SendWindowParts &parts);

} // namespace kestlin
