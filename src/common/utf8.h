#pragma once
// Walking UTF-8 text one character at a time by the rules of RFC 3629: a
// character is one to four bytes and never an overlong form, a surrogate
// (U+D800 to U+DFFF) or beyond U+10FFFF, so C0, C1 and F5 to FF start none.
// Header-only: the program and the mail library both walk text this way.
#include <cstddef>
#include <string_view>

namespace kestlin::utf8 {

struct Character
{
    std::size_t length = 0; // bytes taken; 0 only for empty text
    bool valid = false; // false: length bytes that form no character, taken as one
    char32_t code = 0; // the code point when valid
};

// The character at the start of text. Bytes that are not one give the longest
// start of a well-formed sequence (at least one byte) as one bad character, as
// Unicode recommends for replacing them: a stray or cut-off lead byte never
// swallows the characters after it.
constexpr Character Next(std::string_view text) noexcept
{
    if (text.empty())
        return {};
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return { 1, true, lead };
    std::size_t length = 0;
    // The range of the byte after the lead; the later ones are 80 to BF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low; // shorter forms are overlong
        high = lead == 0xED ? 0x9F : high; // ED A0 and up are surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low; // overlong below
        high = lead == 0xF4 ? 0x8F : high; // beyond U+10FFFF above
    } else {
        return { 1, false, 0 };
    }
    char32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= text.size() || byte(i) < low || byte(i) > high)
            return { i, false, 0 };
        code = code << 6 | (byte(i) & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return { length, true, code };
}

} // namespace kestlin::utf8
