#pragma once
// The names the attachment list refuses, without the list control: the
// window and the command line refuse the same names with the same words.
#include <string>

namespace kestlin {

// The name the send pipeline gives to the body file it writes beside the attachments.
inline constexpr const char *kReservedFileName = "MAIN_TEXT.txt";

// Why a file of this path cannot be listed for its name: the reserved body
// file name, or a name the receiving Windows cannot hold. Empty when its name
// may be listed.
std::string NameRefusal(const std::string &path);

// Whether the path names the reserved body file name (case-sensitive).
bool IsReservedName(const std::string &path);

// The end of every refusal of a name: what the user does about it.
inline constexpr const char *kRenameAndRetry = "ファイル名を変更して再度指定してください。";

} // namespace kestlin
