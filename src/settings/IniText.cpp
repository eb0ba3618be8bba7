#include "settings/IniText.h"

#include "common/cp932.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <utility>

namespace kestlin::ini {
namespace {

// The rules below are those of the Windows profile functions, checked against
// the profile functions of Wine 8 (run under code page 932 with a small test
// program) and the behaviour that Wine's own test suite records for Windows:
// - a line ends at CR or LF; any run of CR and LF is one line end, so blank
//   lines vanish and LF-only or CR-only files read like CR LF files;
// - blanks are the bytes 0x09..0x0D, 0x20 and 0x1A (a DOS end-of-file mark),
//   never the ideographic space;
// - a line whose first non-blank character is "[" and that holds a "]" is a
//   section header named by the text up to the last "]", trimmed; "[" without
//   any "]" makes an ordinary line;
// - other lines are entries: the key runs up to the first "=", the value after
//   it; a line without "=" is a key without a value, which reads as missing
//   but still hides a later line of the same key;
// - section and key names match ignoring the case of the letters A-Z only;
//   only the first section of a name is searched, and in it the first key;
// - a NUL byte ends a name or a value, as in the C strings of the platform;
// - one pair of equal quotation marks (" or ') enclosing the whole value is
//   removed after the blanks (Wine 8 drops one character more when what is
//   inside the marks is exactly 254 characters long; that slip is not copied);
// - a file that starts with a UTF-8 or UTF-16 byte-order mark is read in that
//   encoding, values converted to code page 932 as the ANSI calls return them.
// Writing follows Windows NT's layout where a line is added: "[section]" and
// "key=value" lines with no blank line between sections, and a line end put
// after a last line that had none.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t kNone = std::string_view::npos;

bool IsBlank(char c)
{
    auto u = static_cast<unsigned char>(c);
    return (u >= 0x09 && u <= 0x0D) || u == 0x1A || u == 0x20;
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

bool IsLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsTrailByte(unsigned char c)
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// Bytes taken by the CP932 character at i. The bytes that carry meaning here
// ("[", "]", "=", blanks, line ends) are ASCII; "[" "]" and "\" can be the second
// byte of a double-byte character and must then not be taken for themselves.
// In UTF-8 no ASCII byte is ever part of a longer character.
std::size_t CharLength(std::string_view s, std::size_t i, bool utf8)
{
    if (!utf8 && IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()
        && IsTrailByte(static_cast<unsigned char>(s[i + 1])))
        return 2;
    return 1;
}

std::string_view UpToNul(std::string_view s)
{
    return s.substr(0, s.find('\0'));
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Converts between UTF-8 and UTF-16; what cannot be converted becomes "?".
// Nothing when the converter itself is missing.
std::optional<std::string> Recode(std::string_view in, const char *to, const char *from)
{
    std::string out;
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    const std::size_t unit = std::string_view(from).starts_with("UTF-16") ? 2 : 1;
    char *src = const_cast<char *>(in.data());
    std::size_t left = in.size();
    char buffer[4096];
    while (left > 0) {
        char *dst = buffer;
        std::size_t room = sizeof buffer;
        std::size_t rc = ::iconv(cd, &src, &left, &dst, &room);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        const std::size_t skip = std::min(left, unit);
        const std::string_view target(to);
        out.append(target == "UTF-16LE"   ? std::string_view("?\0", 2)
                   : target == "UTF-16BE" ? std::string_view("\0?", 2)
                                          : std::string_view("?"));
        src += skip;
        left -= skip;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    ::iconv_close(cd);
    return out;
}

// The file split into an optional byte-order mark and the text after it.
// Text marked as UTF-16 (as Notepad's "Unicode" writes it) is worked on as
// UTF-8; a change is turned back into UTF-16 on its own and put between the
// file's own bytes, so that units that do not decode (a lone surrogate) stay
// as they were. A byte after the last whole unit is no character.
struct Text
{
    std::string_view bom;
    std::string_view body;
    bool utf8 = false;
    const char *utf16 = nullptr; // the encoding of the file when it is UTF-16
    std::string_view units; // the file after the mark when it is UTF-16
    bool undecodable = false; // UTF-16 without a converter
    std::string decoded;
};

void Split(std::string_view file, Text &text)
{
    if (file.starts_with(kUtf8Bom)) {
        text.bom = file.substr(0, kUtf8Bom.size());
        text.body = file.substr(kUtf8Bom.size());
        text.utf8 = true;
        return;
    }
    text.body = file;
    if (!file.starts_with("\xFF\xFE") && !file.starts_with("\xFE\xFF"))
        return;
    const char *encoding = file[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
    const std::string_view units = file.substr(2);
    std::optional<std::string> decoded
        = Recode(units.substr(0, units.size() & ~std::size_t { 1 }), "UTF-8", encoding);
    if (!decoded) {
        text.undecodable = true;
        return;
    }
    text.bom = file.substr(0, 2);
    text.decoded = std::move(*decoded);
    text.body = text.decoded;
    text.utf8 = true;
    text.utf16 = encoding;
    text.units = units;
}

// Where a place in the decoded text of a UTF-16 file lies among its units. A
// change starts and ends at the end of the text, at a line break or just after
// an "="; each of these characters comes from one unit of the same value and
// from nothing else, so the n-th of them in the text is the n-th such unit.
std::size_t UnitOffset(const Text &text, std::size_t at)
{
    const std::size_t whole = text.units.size() & ~std::size_t { 1 };
    if (at >= text.body.size())
        return whole;
    const bool lineEnd = IsLineEnd(text.body[at]);
    auto isMark = [lineEnd](char c) { return lineEnd ? IsLineEnd(c) : c == '='; };
    // The unit of the line break at the place, or that of the "=" before it.
    std::size_t wanted = static_cast<std::size_t>(std::count_if(
        text.body.begin(), text.body.begin() + static_cast<std::ptrdiff_t>(at), isMark));
    wanted += lineEnd ? 1 : 0;
    const bool little = std::string_view(text.utf16) == "UTF-16LE";
    for (std::size_t i = 0; i < whole; i += 2) {
        const auto first = static_cast<unsigned char>(text.units[i]);
        const auto second = static_cast<unsigned char>(text.units[i + 1]);
        const unsigned unit = little ? first | second << 8 : first << 8 | second;
        if (unit < 0x80 && isMark(static_cast<char>(unit)) && --wanted == 0)
            return lineEnd ? i : i + 2;
    }
    return whole;
}

// A name given by a caller, in the file's encoding: what the platform's ANSI
// entry points would see (up to a NUL, in CP932) and compare (trimmed).
std::string Encode(std::string_view utf8, bool toUtf8)
{
    std::string bytes = cp932::FromUtf8(UpToNul(utf8));
    if (toUtf8)
        bytes = cp932::ToUtf8(bytes);
    return std::string(Trim(bytes));
}

char FoldAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b, bool utf8)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size();) {
        std::size_t n = CharLength(a, i, utf8);
        if (n == 2) {
            if (a.substr(i, 2) != b.substr(i, 2))
                return false;
        } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
        i += n;
    }
    return true;
}

struct Line
{
    std::size_t end = 0; // end of the content, where the line break starts
    std::size_t next = 0; // start of the next line
    std::size_t first = 0, last = 0; // the content without surrounding blanks
};

Line ReadLine(std::string_view body, std::size_t begin)
{
    Line line;
    line.end = begin;
    while (line.end < body.size() && !IsLineEnd(body[line.end]))
        ++line.end;
    line.next = line.end;
    while (line.next < body.size() && IsLineEnd(body[line.next]))
        ++line.next;
    line.first = begin;
    line.last = line.end;
    while (line.first < line.last && IsBlank(body[line.first]))
        ++line.first;
    while (line.last > line.first && IsBlank(body[line.last - 1]))
        --line.last;
    return line;
}

// Position of the last "]" of the line that is a character by itself, or kNone.
std::size_t LastCloseBracket(std::string_view body, const Line &line, bool utf8)
{
    std::size_t found = kNone;
    for (std::size_t i = line.first; i < line.last; i += CharLength(body, i, utf8)) {
        if (CharLength(body, i, utf8) == 1 && body[i] == ']')
            found = i;
    }
    return found;
}

// Where section / key is, or would go, in the text.
struct Location
{
    bool section = false;
    std::size_t sectionEnd = 0; // end of the last non-blank line of the section
    bool entry = false;
    std::size_t entryEnd = 0; // end of the entry's content
    std::size_t equals = kNone; // its "=", kNone when it has none
    std::size_t valueBegin = 0; // its value, without surrounding blanks
    std::size_t valueEnd = 0;
};

Location Locate(const Text &text, std::string_view section, std::string_view key)
{
    Location at;
    std::string_view body = text.body;
    for (std::size_t pos = 0; pos < body.size();) {
        Line line = ReadLine(body, pos);
        pos = line.next;
        if (line.first == line.last)
            continue;
        std::size_t close
            = body[line.first] == '[' ? LastCloseBracket(body, line, text.utf8) : kNone;
        if (close != kNone) {
            if (at.section)
                break; // only the first section of the name counts
            std::string_view name = body.substr(line.first + 1, close - line.first - 1);
            at.section = SameName(UpToNul(Trim(name)), section, text.utf8);
            at.sectionEnd = line.end;
            continue;
        }
        if (!at.section)
            continue;
        at.sectionEnd = line.end;
        std::size_t equals = body.substr(0, line.last).find('=', line.first);
        std::size_t nameEnd = equals == kNone ? line.last : equals;
        std::string_view name = Trim(body.substr(line.first, nameEnd - line.first));
        if (!SameName(UpToNul(name), key, text.utf8))
            continue;
        at.entry = true;
        at.entryEnd = line.end;
        at.equals = equals;
        if (equals != kNone) {
            at.valueBegin = equals + 1;
            while (at.valueBegin < line.last && IsBlank(body[at.valueBegin]))
                ++at.valueBegin;
            at.valueEnd = line.last;
        }
        break;
    }
    return at;
}

std::string_view Unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
        && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// New lines follow the file's own line ends; a new file gets CR LF.
std::string_view LineBreakOf(std::string_view body)
{
    std::size_t at = body.find_first_of("\r\n");
    if (at == kNone)
        return "\r\n";
    if (body[at] == '\n')
        return "\n";
    return at + 1 < body.size() && body[at + 1] == '\n' ? "\r\n" : "\r";
}

// One change of a text: its bytes from / to give way to insert.
struct Change
{
    std::size_t from = 0;
    std::size_t to = 0;
    std::string insert;
};

Change Plan(const Text &text, const std::string &sectionName, const std::string &keyName,
            const std::string &bytes)
{
    std::string_view body = text.body;
    std::string_view br = LineBreakOf(body);
    Location at = Locate(text, sectionName, keyName);
    if (at.entry && at.equals != kNone) {
        // The rest of the line goes: blanks that came with the old value would
        // otherwise pile up around the new one.
        return { at.equals + 1, at.entryEnd, bytes };
    }
    if (at.entry)
        return { at.entryEnd, at.entryEnd, "=" + bytes };
    if (at.section) {
        std::string line = std::string(br) + keyName + "=" + bytes;
        return { at.sectionEnd, at.sectionEnd, line };
    }
    std::string lines = !body.empty() && !IsLineEnd(body.back()) ? std::string(br) : std::string();
    lines += "[" + sectionName + "]" + std::string(br) + keyName + "=" + bytes + std::string(br);
    return { body.size(), body.size(), lines };
}

} // namespace

std::optional<std::string> FindValue(std::string_view file, std::string_view section,
                                     std::string_view key)
{
    Text text;
    Split(file, text);
    std::string sectionName = Encode(section, text.utf8);
    std::string keyName = Encode(key, text.utf8);
    if (sectionName.empty() || keyName.empty())
        return std::nullopt;
    Location at = Locate(text, sectionName, keyName);
    if (!at.entry || at.equals == kNone)
        return std::nullopt;
    std::string_view raw = text.body.substr(at.valueBegin, at.valueEnd - at.valueBegin);
    std::string_view value = Unquote(UpToNul(raw));
    return text.utf8 ? cp932::FromUtf8(value) : std::string(value);
}

std::optional<std::string> SetValue(std::string_view file, std::string_view section,
                                    std::string_view key, std::string_view value)
{
    Text text;
    Split(file, text);
    if (text.undecodable)
        return std::nullopt;
    std::string sectionName = Encode(section, text.utf8);
    std::string keyName = Encode(key, text.utf8);
    std::string bytes = cp932::FromUtf8(UpToNul(value));
    if (text.utf8)
        bytes = cp932::ToUtf8(bytes);
    Change change = Plan(text, sectionName, keyName, bytes);
    std::string_view body = text.body;
    if (!text.utf16) {
        std::string out(text.bom);
        out.append(body.substr(0, change.from))
            .append(change.insert)
            .append(body.substr(change.to));
        return out;
    }
    std::optional<std::string> insert = Recode(change.insert, text.utf16, "UTF-8");
    if (!insert)
        return std::nullopt;
    std::string out(file.substr(0, text.bom.size() + UnitOffset(text, change.from)));
    out.append(*insert).append(text.units.substr(UnitOffset(text, change.to)));
    return out;
}

std::string_view CutCp932(std::string_view bytes, std::size_t max)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t n = CharLength(bytes, i, false);
        if (i + n > max)
            break;
        i += n;
    }
    return bytes.substr(0, i);
}

// Matched to Wine 8's GetPrivateProfileIntA under code page 932 (which parses
// as RtlUnicodeStringToInteger with base 0 does) and to the results Wine's tests
// record for Windows: "4294967297" gives 1, "42A94967297" 42, "B4294967297" 0.
int32_t ParseProfileInt(std::string_view text)
{
    // The platform reads the value into an area of 30 characters first.
    constexpr std::size_t kChars = 29;
    std::size_t end = 0;
    for (std::size_t chars = 0; end < text.size(); ++end) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            continue;
        if (chars++ == kChars)
            break;
    }
    text = text.substr(0, end);

    std::size_t p = 0;
    while (p < text.size() && static_cast<unsigned char>(text[p]) <= ' ')
        ++p;
    bool minus = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-'))
        minus = text[p++] == '-';
    uint32_t base = 10;
    if (p + 1 < text.size() && text[p] == '0') {
        // Lower-case prefixes only: "0X10" reads as 0.
        const char marker = text[p + 1];
        base = marker == 'x' ? 16 : marker == 'o' ? 8 : marker == 'b' ? 2 : 10;
        if (base != 10)
            p += 2;
    }
    uint32_t total = 0;
    for (; p < text.size(); ++p) {
        const char c = text[p];
        uint32_t digit = (c >= '0' && c <= '9')   ? static_cast<uint32_t>(c - '0')
                         : (c >= 'a' && c <= 'z') ? static_cast<uint32_t>(c - 'a' + 10)
                         : (c >= 'A' && c <= 'Z') ? static_cast<uint32_t>(c - 'A' + 10)
                                                  : 99;
        if (digit >= base)
            break;
        total = total * base + digit; // wraps modulo 2^32, as the platform's does
    }
    return static_cast<int32_t>(minus ? 0u - total : total);
}

bool IsWritableSection(std::string_view section)
{
    return !Trim(section).empty() && section.find_first_of("\r\n") == kNone;
}

bool IsWritableKey(std::string_view key)
{
    std::string_view name = Trim(key);
    return !name.empty() && name.front() != '[' && key.find_first_of("\r\n=") == kNone;
}

bool IsWritableValue(std::string_view value)
{
    return value.find_first_of("\r\n") == kNone;
}

} // namespace kestlin::ini
