#pragma once
// Helpers shared by the send pipeline and the settings dialog.
#include <cstdint>
#include <optional>
#include <string>

namespace kestlin {

class Display;

// True when the address has exactly one "@", no full-width character and only
// the characters 0-9 A-Z a-z - . @ _ ; otherwise false with the reason.
bool ChkMailAddress(const std::string &address, std::string &errText);

// Deletes a folder with everything in it, or a single file. A symbolic link
// inside is removed as a link and never followed. False with the reason.
bool DelFolder(const std::string &path, std::string &errText);

// Writes "message,title" CR LF into Err_<YYYYMMDDHHmmSS>.LOG in the program
// folder (an installed copy: the user's own log folder), replacing a log of the same second. When
// that fails, shows the system's description (no icon, title "Kestlin") and returns false.
bool WriteErrLog(Display &display, const std::string &message, const std::string &title);

// The folder chooser with the title "フォルダの選択": the chosen folder, or
// nothing when the user cancels. hwnd is the owner window (kept for the callers' sake).
// The chooser opens in startFolder when that folder exists.
std::optional<std::string> BrowseFolder(Display &display, uint32_t hwnd,
                                        const std::string &startFolder = {});

// The code of GetSpecialFolder for the user's documents folder.
inline constexpr int32_t kDocumentsFolder = 5;

// The path of a special folder; kDocumentsFolder is the user's documents
// folder, or the home folder when the documents folder does not exist. Empty
// for any other code, or when there is no such folder.
std::string GetSpecialFolder(int32_t code);

} // namespace kestlin
