#pragma once
// Code page 932 (Shift-JIS, Microsoft's table) at the edge of the program:
// text inside is UTF-8, text in files and length limits are CP932.
//
// One-way mappings follow glibc's CP932 table, which gives the same bytes as the
// Windows conversion's best fit: WAVE DASH U+301C and FULLWIDTH TILDE U+FF5E
// both become 0x8160 (read back as U+FF5E), MINUS SIGN U+2212 and FULLWIDTH
// HYPHEN-MINUS U+FF0D both become 0x817C (read back as U+FF0D), YEN SIGN U+00A5
// becomes 0x5C (read back as "\"). A round trip therefore normalises them.
#include <cstddef>
#include <string>
#include <string_view>

namespace kestlin::cp932 {

// UTF-8 to CP932 bytes; a character without a CP932 form becomes "?", and so
// does every byte of input that is not valid UTF-8.
std::string FromUtf8(std::string_view utf8);

// CP932 bytes to UTF-8; a byte sequence that is not CP932 becomes "?".
std::string ToUtf8(std::string_view cp932);

// The text converted to CP932 and back: what survives the trip through a file.
std::string RoundTrip(std::string_view utf8);

// Bytes the text takes in CP932 (unmappable characters count one byte, as "?").
std::size_t ByteLength(std::string_view utf8);

} // namespace kestlin::cp932
