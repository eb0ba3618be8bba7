#include "startup/SendUi.h"

#include "startup/SendRunner.h"
#include "startup/frmKestlin_01.h"

#include <QListWidget>
#include <QPushButton>

namespace kestlin {

void RunSendFromWindow(frmKestlin_01 &window)
{
    SendWindowParts parts;
    parts.owner = &window;
    parts.list = window.lstFile();
    parts.addButton = window.cmdAdd();
    parts.display = &window.display();
    parts.iniFilePath = window.iniFilePath();
    parts.strWorkSpace = &window.strWorkSpace;
    parts.strSendFile = &window.strSendFile;
    RunSendWithProgress(parts);
}

} // namespace kestlin
