#pragma once
// Text files as the program writes them: CP932, every line ended by CR LF,
// created anew over a file of the same name.
#include <string>

namespace kestlin {

enum class FileAccess { Default, OwnerOnly };

// Writes the text (UTF-8; it may already hold CR LF line breaks) followed by
// CR LF. False with the system's description when the file cannot be created
// or written completely. OwnerOnly makes the file readable by its owner alone,
// for files that hold a clear password.
bool WriteTextLine(const std::string &path, const std::string &text, std::string &reason,
                   FileAccess access = FileAccess::Default);

} // namespace kestlin
