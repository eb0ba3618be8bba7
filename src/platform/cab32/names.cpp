#include "names.h"

#include "cab32.h"
#include "cabformat.h"
#include "common/cp932.h"
#include "common/winnames.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <vector>

namespace kestlin::cab32 {

bool IsValidUtf8(const std::string &text)
{
    iconv_t cd = ::iconv_open("UTF-32LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    bool valid = true;
    while (inLeft > 0 && valid) {
        char buffer[1024];
        char *out = buffer;
        size_t outLeft = sizeof buffer;
        if (::iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
            valid = errno == E2BIG;
    }
    ::iconv_close(cd);
    return valid;
}

Status EncodeName(const std::string &relative, std::string &stored, bool &utf8)
{
    if (!IsValidUtf8(relative))
        return Fail(CAB32_E_BADNAME, "名前が UTF-8 ではありません: " + relative);
    if (relative.find('\\') != std::string::npos)
        return Fail(CAB32_E_BADNAME,
                    "名前に \\ があり、書庫ではフォルダの区切りになります: " + relative);
    if (relative.empty() || relative.front() == '/' || relative.back() == '/'
        || relative.find("//") != std::string::npos || relative == "." || relative == ".."
        || relative.rfind("./", 0) == 0 || relative.rfind("../", 0) == 0
        || relative.find("/./") != std::string::npos || relative.find("/../") != std::string::npos
        || relative.ends_with("/.") || relative.ends_with("/.."))
        return Fail(CAB32_E_BADNAME, "フォルダの中を指す名前ではありません: " + relative);
    // The receiver unpacks on Windows, which cannot make such a file or folder.
    for (size_t start = 0, slash = 0; slash != std::string::npos; start = slash + 1) {
        slash = relative.find('/', start);
        const WindowsNameFault fault
            = CheckWindowsName(std::string_view(relative).substr(start, slash - start));
        if (fault != WindowsNameFault::None)
            return Fail(CAB32_E_BADNAME, "Windows で使えない名前です ("
                                             + std::string(WindowsNameFaultText(fault))
                                             + "): " + relative);
    }
    std::string windows = relative;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    // The round trip also refuses one-way mappings (WAVE DASH, YEN SIGN...):
    // the receiver would decode another character than the one sent.
    std::string cp932 = cp932::FromUtf8(windows);
    utf8 = cp932::ToUtf8(cp932) != windows;
    stored = utf8 ? windows : cp932;
    if (stored.size() > kMaxNameBytes)
        return Fail(CAB32_E_LIMIT, "名前が長すぎます (" + std::to_string(stored.size())
                                       + " バイト、255 バイトまで): " + relative);
    return {};
}

namespace {
bool IsDriveLetter(const std::string &part)
{
    return part.size() >= 2 && part[1] == ':'
           && ((part[0] >= 'A' && part[0] <= 'Z') || (part[0] >= 'a' && part[0] <= 'z'));
}
} // namespace

Status DecodeName(const std::string &stored, bool utf8, std::string &relative)
{
    if (utf8 && !IsValidUtf8(stored))
        return Fail(CAB32_E_BADNAME, "書庫の名前が UTF-8 ではありません");
    // Split only after decoding: the second byte of a CP932 character such as
    // "表" is the byte of "\".
    const std::string text = utf8 ? stored : cp932::ToUtf8(stored);
    auto refuse = [&] { return Fail(CAB32_E_BADNAME, "展開先の外を指す名前です: " + text); };
    if (text.empty() || text.front() == '\\' || text.front() == '/')
        return refuse();
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\\' && text[i] != '/') {
            part.push_back(text[i]);
            continue;
        }
        if (part == "." || part == ".." || (parts.empty() && IsDriveLetter(part)))
            return refuse();
        if (!part.empty())
            parts.push_back(part);
        part.clear();
    }
    if (parts.empty())
        return refuse();
    relative.clear();
    for (const std::string &p : parts)
        relative += (relative.empty() ? "" : "/") + p;
    return {};
}

} // namespace kestlin::cab32
