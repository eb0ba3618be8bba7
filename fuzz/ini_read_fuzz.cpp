// Reading a settings file by the profile rules, whatever the file holds: no
// value holds a line break; the case of A-Z in the names and LF or CR LF line
// ends do not change a lookup; the same text in code page 932, in UTF-8 and in
// UTF-16 of either byte order behind a byte-order mark answers alike.
// Input: section, key (each ended by "\" and one more character), then the file.
#include "FuzzCheck.h"
#include "common/cp932.h"
#include "settings/IniText.h"

#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <optional>
#include <string>

using namespace kestlin;

namespace {

std::string SwapCase(std::string name)
{
    for (char &c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            c ^= 0x20;
    }
    return name;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to)
{
    std::string out;
    for (std::size_t at = 0;;) {
        const std::size_t next = text.find(from, at);
        out.append(text.substr(at, next - at));
        if (next == std::string_view::npos)
            return out;
        out.append(to);
        at = next + from.size();
    }
}

bool HasMark(std::string_view file)
{
    return file.starts_with("\xEF\xBB\xBF") || file.starts_with("\xFF\xFE")
           || file.starts_with("\xFE\xFF");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string file = input.ConsumeRemainingBytesAsString();

    const std::optional<std::string> value = ini::FindValue(file, section, key);
    if (value) {
        FUZZ_CHECK(value->find_first_of("\r\n") == std::string::npos);
        const std::string_view cut = ini::CutCp932(*value, 254);
        FUZZ_CHECK(value->starts_with(cut)
                   && cut.size() + 1 >= std::min<std::size_t>(value->size(), 254));
        ini::ParseProfileInt(cp932::ToUtf8(*value));
    }
    FUZZ_CHECK(ini::FindValue(file, SwapCase(section), SwapCase(key)) == value);

    const bool utf16 = file.starts_with("\xFF\xFE") || file.starts_with("\xFE\xFF");
    if (!utf16) {
        FUZZ_CHECK(ini::FindValue(ReplaceAll(file, "\r\n", "\n"), section, key) == value);
        FUZZ_CHECK(ini::FindValue(ReplaceAll(file, "\n", "\r\n"), section, key) == value);
    }

    // Code page 932 text that converts to Unicode and back unchanged.
    const std::string text = cp932::ToUtf8(file);
    if (HasMark(file) || cp932::FromUtf8(text) != file)
        return 0;
    FUZZ_CHECK(ini::FindValue("\xEF\xBB\xBF" + text, section, key) == value);
    for (const char *encoding : { "UTF-16LE", "UTF-16BE" }) {
        const std::string mark = encoding[6] == 'L' ? "\xFF\xFE" : "\xFE\xFF";
        const std::optional<std::string> units = fuzz::Convert(text, encoding, "UTF-8");
        FUZZ_CHECK(units);
        FUZZ_CHECK(ini::FindValue(mark + *units, section, key) == value);
    }
    return 0;
}
