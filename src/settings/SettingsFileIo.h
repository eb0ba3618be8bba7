#pragma once
// The file operations under the settings file: reading it whole, and replacing
// it so that a failure at any point leaves either the old or the new file.
#include <string>
#include <sys/stat.h>

namespace kestlin::settingsfile {

enum class Access { Read, Update };

// Reads the whole of a regular file (links followed). Update also demands that
// the file may be written. False with an errno code; ENOENT when it is missing,
// EISDIR / EINVAL when the path names a folder / something else than a file.
bool ReadWhole(const std::string &path, Access access, std::string &bytes, struct stat &info,
               int &error);

// The path with the links of its last part followed to the name they end at,
// so that a linked settings file is replaced and the link kept. A dangling link
// gives the path of the missing file it points to.
std::string FollowLinks(const std::string &path);

// Puts bytes in place of the file at path through a temporary file in the same
// folder. existing: the old file's status, whose mode and owner the new file
// keeps; nullptr for a new file, which becomes readable by its owner only.
// Hard links to the old file keep the old content, as after any rename.
bool Replace(const std::string &path, const std::string &bytes, const struct stat *existing,
             int &error);

} // namespace kestlin::settingsfile
