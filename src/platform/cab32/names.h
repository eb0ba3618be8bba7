#pragma once
// Names of files inside a cabinet: the path below the packed folder with "\"
// between folder names, in code page 932 when every character has a form
// there that reads back the same, otherwise in UTF-8 (flagged by attribute).
#include "status.h"

#include <string>

namespace kestlin::cab32 {

// relative: UTF-8, "/" between folder names. On success stored holds the bytes
// to store and utf8 tells whether they are UTF-8.
Status EncodeName(const std::string &relative, std::string &stored, bool &utf8);

// A stored name as a path below the destination ("/" between folder names),
// refused when it would lead outside of it.
Status DecodeName(const std::string &stored, bool utf8, std::string &relative);

bool IsValidUtf8(const std::string &text);

} // namespace kestlin::cab32
