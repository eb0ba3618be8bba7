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

// True when the bytes of before that after does not keep lie within one line:
// the stretch between the common start and the common end holds no line break
// (no CR or LF byte; in UTF-16, no CR or LF unit).
bool OneLineChanged(const std::string &before, const std::string &after)
{
    const std::size_t common = std::min(before.size(), after.size());
    std::size_t head = 0;
    while (head < common && before[head] == after[head])
        ++head;
    std::size_t tail = 0;
    while (tail < common - head
           && before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    const std::size_t end = before.size() - tail;
    if (head >= end)
        return true; // bytes were only added
    const bool little = before.starts_with("\xFF\xFE");
    if (!little && !before.starts_with("\xFE\xFF"))
        return before.substr(head, end - head).find_first_of("\r\n") == std::string::npos;
    for (std::size_t unit = 2 + (head < 2 ? 0 : (head - 2) / 2 * 2);
         unit + 1 < before.size() && unit < end; unit += 2) {
        const char low = little ? before[unit] : before[unit + 1];
        const char high = little ? before[unit + 1] : before[unit];
        if (high == 0 && (low == '\r' || low == '\n'))
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
