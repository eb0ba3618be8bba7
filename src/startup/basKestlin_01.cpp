#include "startup/basKestlin_01.h"

#include "common/Display.h"
#include "common/dynlib.h"
#include "common/files.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <sys/utsname.h>

namespace kestlin {

std::string strIniFilePath;

namespace {

// Reads the decimal number at pos, moving pos past it. Values beyond 16 bits
// are held at the largest one instead of wrapping round to a small version.
bool ReadNumber(const std::string &text, size_t &pos, uint16_t &value)
{
    if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos])))
        return false;
    uint32_t number = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        number = std::min<uint32_t>(number * 10 + static_cast<uint32_t>(text[pos] - '0'), 65535);
        ++pos;
    }
    value = static_cast<uint16_t>(number);
    return true;
}

} // namespace

bool FncCmpVersion(const FileVersion &current, const FileVersion &required)
{
    const uint16_t have[] = { current.major, current.minor, current.build, current.revision };
    const uint16_t need[] = { required.major, required.minor, required.build, required.revision };
    for (int i = 0; i < 4; ++i) {
        if (have[i] != need[i])
            return have[i] > need[i];
    }
    return true;
}

std::string VersionText(const FileVersion &version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "."
           + std::to_string(version.build) + "." + std::to_string(version.revision);
}

std::optional<FileVersion> ParseKernelRelease(const std::string &release)
{
    const auto dash = release.find('-');
    const std::string numbers = release.substr(0, dash);
    FileVersion version;
    size_t pos = 0;
    if (!ReadNumber(numbers, pos, version.major))
        return std::nullopt;
    uint16_t *lower[] = { &version.minor, &version.build };
    for (uint16_t *part : lower) {
        if (pos + 1 >= numbers.size() || numbers[pos] != '.')
            break;
        ++pos;
        if (!ReadNumber(numbers, pos, *part))
            break;
    }
    if (dash != std::string::npos) {
        pos = dash + 1;
        ReadNumber(release, pos, version.revision);
    }
    return version;
}

std::optional<FileVersion> RunningKernelVersion()
{
    struct utsname names;
    if (::uname(&names) != 0)
        return std::nullopt;
    return ParseKernelRelease(names.release);
}

bool FncChkVersion(std::string &msg)
{
    try {
        return FncChkVersion(msg, RunningKernelVersion());
    } catch (const std::exception &) {
        msg.clear();
        return false;
    }
}

bool FncChkVersion(std::string &msg, const std::optional<FileVersion> &current)
{
    if (!current)
        return false;
    if (FncCmpVersion(*current, kOldestKernelVersion))
        return true;
    // The kernel's version under the library name the users know from Windows.
    msg = "ADVAPI32.DLLのﾊﾞｰｼﾞｮﾝが" + VersionText(*current) + "です。\r\n"
          + "ADVAPI32.DLLのﾊﾞｰｼﾞｮﾝが" + VersionText(kOldestKernelVersion)
          + "より新しいﾊﾞｰｼﾞｮﾝを使用してください。";
    return false;
}

bool FncChkDll(Display &display)
{
    return FncChkDll(display, [](const RequiredLibrary &library) {
        return ProbeLibrary(library.fileName, library.entryPoints);
    });
}

bool FncChkDll(Display &display, const std::function<LibraryProbe(const RequiredLibrary &)> &probe)
{
    try {
        for (const auto &library : kRequiredLibraries) {
            const LibraryProbe found = probe(library);
            if (found.state == LibraryProbe::State::Usable)
                continue;
            // A file that is there but refused must not send the user
            // looking for it: name it and say what the loader says.
            const std::string text = found.state == LibraryProbe::State::Missing
                                         ? std::string(library.shownName) + "が見つかりません!!"
                                         : std::string(library.shownName) + "を読み込めません!!\r\n"
                                               + found.file + "\r\n" + found.reason;
            display.ShowMessage(text, "Error", MsgIcon::Critical);
            return false;
        }
        return true;
    } catch (const std::exception &e) {
        display.ShowMessage(e.what(), kAppTitle, MsgIcon::Exclamation);
        return false;
    }
}

std::string IniFilePathIn(const std::string &programFolder)
{
    return JoinPath(programFolder, "Kestlin.INI");
}

} // namespace kestlin
