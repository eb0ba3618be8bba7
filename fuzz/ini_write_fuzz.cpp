// Writing one value into an arbitrary existing settings file: every byte
// outside the changed line stays as it was, the key reads back as from a new
// file, the other keys read as before, and writing the same again changes
// nothing. Input: section, key, value, another section and key (each ended by
// "\" and one more character), then the file.
#include "FuzzCheck.h"
#include "common/cp932.h"
#include "settings/IniText.h"

#include <algorithm>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <optional>
#include <string>

using namespace kestlin;

namespace {

// What the settings class hands on: the text up to a NUL, as in a C string.
std::string Field(FuzzedDataProvider &input, std::size_t max)
{
    std::string text = input.ConsumeRandomLengthString(max);
    return text.substr(0, text.find('\0'));
}

// Names that may be one name to the reader: equal in code page 932 once the
// blanks around them are gone and A-Z are folded byte by byte (which can only
// make more names equal, never fewer).
bool MaybeSameName(const std::string &a, const std::string &b)
{
    auto fold = [](const std::string &utf8) {
        std::string bytes = cp932::FromUtf8(utf8);
        auto blank = [](char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == ' '; };
        bytes.erase(bytes.begin(), std::find_if_not(bytes.begin(), bytes.end(), blank));
        bytes.erase(std::find_if_not(bytes.rbegin(), bytes.rend(), blank).base(), bytes.end());
        for (char &c : bytes)
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
        return bytes;
    };
    return fold(a) == fold(b);
}

// True when what before loses lies within one line: between the units (bytes,
// or in UTF-16 two-byte units) both share at the start and at the end there
// is no line break. In UTF-16 a byte after the last whole unit stays last.
bool OneLineChanged(std::string_view before, std::string_view after)
{
    const bool little = before.starts_with("\xFF\xFE");
    const std::size_t width = little || before.starts_with("\xFE\xFF") ? 2 : 1;
    if (width == 2 && before.size() % 2 != after.size() % 2)
        return false;
    if (width == 2 && before.size() % 2 != 0) {
        if (before.back() != after.back())
            return false;
        before.remove_suffix(1);
        after.remove_suffix(1);
    }
    auto unit
        = [width](std::string_view text, std::size_t at) { return text.substr(at * width, width); };
    const std::size_t units = before.size() / width;
    const std::size_t common = std::min(units, after.size() / width);
    std::size_t head = 0;
    while (head < common && unit(before, head) == unit(after, head))
        ++head;
    std::size_t tail = 0;
    while (tail < common - head
           && unit(before, units - 1 - tail) == unit(after, after.size() / width - 1 - tail))
        ++tail;
    for (std::size_t at = head; at + tail < units; ++at) {
        const std::string_view u = unit(before, at);
        const char c = width == 1 ? u[0] : little ? (u[1] == 0 ? u[0] : 0) : (u[0] == 0 ? u[1] : 0);
        if (c == '\r' || c == '\n')
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string section = Field(input, 64);
    const std::string key = Field(input, 64);
    const std::string value = Field(input, 300);
    const std::string otherSection = Field(input, 64);
    const std::string otherKey = Field(input, 64);
    const std::string file = input.ConsumeRemainingBytesAsString();
    // The settings class refuses these before it reads the file.
    if (!ini::IsWritableSection(section) || !ini::IsWritableKey(key)
        || !ini::IsWritableValue(value))
        return 0;

    const std::optional<std::string> written = ini::SetValue(file, section, key, value);
    FUZZ_CHECK(written);
    FUZZ_CHECK(OneLineChanged(file, *written));

    const std::optional<std::string> fresh = ini::SetValue("", section, key, value);
    FUZZ_CHECK(fresh);
    FUZZ_CHECK(ini::FindValue(*written, section, key) == ini::FindValue(*fresh, section, key));
    if (!MaybeSameName(section, otherSection) || !MaybeSameName(key, otherKey)) {
        FUZZ_CHECK(ini::FindValue(*written, otherSection, otherKey)
                   == ini::FindValue(file, otherSection, otherKey));
    }
    FUZZ_CHECK(ini::SetValue(*written, section, key, value) == written);
    return 0;
}
