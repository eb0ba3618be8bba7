#include "startup/AttachmentList.h"

#include "common/Display.h"
#include "common/files.h"
#include "common/winnames.h"

#include <QListWidget>
#include <QMimeData>
#include <QUrl>

namespace kestlin {

namespace {

// The receiver unpacks on Windows, which cannot hold every name this system can.
WindowsNameFault WindowsFault(const std::string &path)
{
    return CheckWindowsName(FileNameOf(path));
}

std::string FaultLine(WindowsNameFault fault)
{
    return std::string(WindowsNameFaultText(fault)) + "。\r\n";
}

// The reserved name and a name Windows cannot hold are refused with a message.
bool RefusedName(Display &display, const std::string &path)
{
    const std::string refusal = NameRefusal(path);
    if (refusal.empty())
        return false;
    display.ShowMessage(refusal, kAppTitle, MsgIcon::Information);
    return true;
}

// Of several dropped files, those refused for their names are named in one
// message: unlike a duplicate, the user could not tell that they are missing.
void RefuseForWindows(Display &display, const std::vector<std::string> &paths)
{
    std::string text
        = "次のファイルは受信側のWindowsで使えないファイル名のため、追加しませんでした。\r\n";
    for (const std::string &path : paths)
        text += "「" + FileNameOf(path) + "」：" + FaultLine(WindowsFault(path));
    display.ShowMessage(text + kRenameAndRetry, kAppTitle, MsgIcon::Information);
}

void Append(QListWidget &list, const std::string &path)
{
    list.addItem(QString::fromStdString(path));
}

void AddOneDroppedFile(QListWidget &list, Display &display, const std::string &path)
{
    if (!OrdinaryFileExists(path))
        return;
    if (RefusedName(display, path))
        return;
    if (ListContains(list, path)) {
        display.ShowMessage("既に選択されているファイルです。", kAppTitle, MsgIcon::Information);
        return;
    }
    Append(list, path);
}

} // namespace

bool ListContains(const QListWidget &list, const std::string &path)
{
    const QString text = QString::fromStdString(path);
    for (int i = 0; i < list.count(); ++i) {
        if (list.item(i)->text() == text)
            return true;
    }
    return false;
}

void AddChosenFile(QListWidget &list, Display &display, const std::string &path)
{
    if (path.empty() || FolderExists(path))
        return;
    if (RefusedName(display, path))
        return;
    if (ListContains(list, path)) {
        // Without the full stop, unlike the same refusal of a drop.
        display.ShowMessage("既に選択されているファイルです", kAppTitle, MsgIcon::Information);
        return;
    }
    Append(list, path);
}

void AddDroppedFiles(QListWidget &list, Display &display, const std::vector<std::string> &paths)
{
    if (paths.size() == 1) {
        AddOneDroppedFile(list, display, paths.front());
        return;
    }
    std::vector<std::string> refused;
    for (const std::string &path : paths) {
        if (IsReservedName(path) || !OrdinaryFileExists(path) || ListContains(list, path))
            continue;
        if (WindowsFault(path) != WindowsNameFault::None)
            refused.push_back(path);
        else
            Append(list, path);
    }
    if (!refused.empty())
        RefuseForWindows(display, refused);
}

DropContent DroppedFilePaths(const QMimeData &data, std::vector<std::string> &paths)
{
    paths.clear();
    if (!data.hasUrls())
        return DropContent::NoFiles;
    const QList<QUrl> urls = data.urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths.push_back(url.toLocalFile().toStdString());
    }
    // Links from a browser offer no files at all; a list mixing files and
    // something else cannot be taken as a list of files.
    if (paths.empty())
        return DropContent::NoFiles;
    if (paths.size() != static_cast<size_t>(urls.size())) {
        paths.clear();
        return DropContent::Unreadable;
    }
    return DropContent::Files;
}

void RemoveSelectedEntries(QListWidget &list)
{
    for (int i = list.count() - 1; i >= 0; --i) {
        if (list.item(i)->isSelected())
            delete list.takeItem(i);
    }
}

} // namespace kestlin
