#pragma once
// The text of a settings file as the Windows profile functions see it: lines,
// "[section]" headers and "key=value" entries, found by name without regard to
// letter case. Works on the file's bytes (code page 932, or UTF-8 / UTF-16
// after a byte-order mark) so that a change touches one line and leaves every other
// byte of the file as it was. Names and values passed in are UTF-8.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestlin::ini {

// The value stored under section / key, in CP932 bytes, with surrounding blanks
// and one pair of enclosing quotation marks removed; nothing when the section,
// the key or its "=" is missing.
std::optional<std::string> FindValue(std::string_view file, std::string_view section,
                                     std::string_view key);

// The file with section / key set to value: an existing entry gets the new
// value on its own line, a missing key is added after the last line of its
// section, a missing section is added at the end. Nothing when a UTF-16 file
// cannot be converted back (the system lacks the converter).
std::optional<std::string> SetValue(std::string_view file, std::string_view section,
                                    std::string_view key, std::string_view value);

// The longest start of the CP932 text that fits in max bytes without cutting
// a double-byte character in two.
std::string_view CutCp932(std::string_view bytes, std::size_t max);

// The value read as an integer the way the profile functions read one: blanks,
// a sign, a "0x" / "0o" / "0b" prefix, then digits, with 32-bit wrap-around;
// 0 when there are no digits.
int32_t ParseProfileInt(std::string_view text);

// Names that cannot be written without changing the meaning of the file.
bool IsWritableSection(std::string_view section);
bool IsWritableKey(std::string_view key);
bool IsWritableValue(std::string_view value);

} // namespace kestlin::ini
