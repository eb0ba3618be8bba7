#pragma once
// The rules of the attachment list: every entry is the full path of one file,
// no two entries are equal, no entry is a folder or the reserved body file.
#include "startup/ListRules.h"

#include <string>
#include <vector>

class QListWidget;
class QMimeData;

namespace kestlin {

class Display;

// An entry with exactly this text (case-sensitive) is in the list.
bool ListContains(const QListWidget &list, const std::string &path);

// A file chosen in the file dialog: folders are skipped silently, the
// reserved name, a name Windows cannot hold and a duplicate are refused with a
// message.
void AddChosenFile(QListWidget &list, Display &display, const std::string &path);

// Files dropped on the window. One file alone is refused with a message
// (reserved name, name Windows cannot hold, duplicate) or skipped silently (no
// ordinary file); of several, the names Windows cannot hold are named in one
// message after the others have been added, and every other one that cannot
// be added is skipped without a word.
void AddDroppedFiles(QListWidget &list, Display &display, const std::vector<std::string> &paths);

// What a drop carries.
enum class DropContent { NoFiles, Files, Unreadable };
DropContent DroppedFilePaths(const QMimeData &data, std::vector<std::string> &paths);

// Removes every selected entry; the others keep their order.
void RemoveSelectedEntries(QListWidget &list);

} // namespace kestlin
