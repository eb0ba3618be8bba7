#pragma once
// Reading the settings file whole (it is replaced whole through
// common/atomicfile.h).
#include <string>
#include <sys/stat.h>

namespace kestlin::settingsfile {

enum class Access { Read, Update };

// Reads the whole of a regular file (links followed). Update also demands that
// the file may be written. False with an errno code; ENOENT when it is missing,
// EISDIR / EINVAL when the path names a folder / something else than a file.
bool ReadWhole(const std::string &path, Access access, std::string &bytes, struct stat &info,
               int &error);

} // namespace kestlin::settingsfile
