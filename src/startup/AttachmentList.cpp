#include "startup/AttachmentList.h"

#include "common/Display.h"
#include "common/files.h"

#include <QListWidget>
#include <QMimeData>
#include <QUrl>

namespace kestlin {

namespace {

constexpr const char *kReservedNameMessage
    = "システムで予約されているファイル名です。\r\nファイル名を変更して再度指定してください。";

bool IsReserved(const std::string &path)
{
    return FileNameOf(path) == kReservedFileName;
}

void Append(QListWidget &list, const std::string &path)
{
    list.addItem(QString::fromStdString(path));
}

void AddOneDroppedFile(QListWidget &list, Display &display, const std::string &path)
{
    if (!OrdinaryFileExists(path))
        return;
    if (IsReserved(path)) {
        display.ShowMessage(kReservedNameMessage, kAppTitle, MsgIcon::Information);
        return;
    }
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
    if (IsReserved(path)) {
        display.ShowMessage(kReservedNameMessage, kAppTitle, MsgIcon::Information);
        return;
    }
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
    for (const std::string &path : paths) {
        if (IsReserved(path) || !OrdinaryFileExists(path) || ListContains(list, path))
            continue;
        Append(list, path);
    }
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
