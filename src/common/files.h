#pragma once
// The file-system tests and operations that the whole program shares.
//
// Windows attributes map as follows: a name that begins with "." is hidden;
// anything that is neither a regular file nor a folder (device, socket, pipe,
// dangling link) is system. Links are followed.
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kestlin {

// A regular file, not hidden, exists at the path ("an ordinary file exists").
bool OrdinaryFileExists(const std::string &path);

// A folder exists at the path.
bool FolderExists(const std::string &path);

// An ordinary file or a folder has this name ("a name is taken").
bool NameTaken(const std::string &path);

// Creates one folder level; its parent must exist. False with the system's
// description when it cannot be made (also when the name is already taken).
bool CreateFolder(const std::string &path, std::string &reason, mode_t mode = 0777);

// folder + name with one "/" between them: a separator is added only when the
// folder does not already end in one.
std::string JoinPath(std::string_view folder, std::string_view name);

// The text after the last "/" (the whole text when there is none).
std::string FileNameOf(std::string_view path);

// Copies a file, replacing a file of the same name at the target.
bool CopyFileReplacing(const std::string &from, const std::string &to, std::string &reason);

// Names of the ordinary files directly in a folder, in the order the system
// lists them. False with the system's description when the folder cannot be read.
bool ListOrdinaryFiles(const std::string &folder, std::vector<std::string> &names,
                       std::string &reason);

} // namespace kestlin
