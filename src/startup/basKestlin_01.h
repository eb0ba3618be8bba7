#pragma once
// The start-up module: the checks that run before the main window exists and
// the program-wide path of the settings file. The window side of start-up
// (the instance lock and showing the main window) is in KestlinStart.h.
#include "common/dynlib.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestlin {

class Display;

// The full path of Kestlin.INI; set once at start-up, before any window exists.
extern std::string strIniFilePath;

// A four-part version: major, minor, build, revision.
struct FileVersion
{
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t build = 0;
    uint16_t revision = 0;
};

// The oldest running kernel the program accepts, as major.minor.patch and the
// Debian ABI number (see ParseKernelRelease). The number is the one the
// Windows program required of its system library, ADVAPI32.DLL; here it is
// compared with the kernel's release, which the kernel of every supported
// Debian passes by far.
inline constexpr FileVersion kOldestKernelVersion { 4, 0, 950, 0 };

// The libraries the program loads at run time, with the names they are
// reported by and every entry point the program calls in them.
struct RequiredLibrary
{
    const char *fileName;
    const char *shownName;
    std::vector<std::string> entryPoints;
};
inline const RequiredLibrary kRequiredLibraries[] = {
    { "libbsmtp.so", "BSMTP.DLL", { "BsmtpSubmit", "BsmtpCheckKnownServers", "BsmtpFree" } },
    { "libcab32.so", "CAB32.DLL", { "Cab", "CabCheckArchive" } },
    { "libcapicom.so",
      "CAPICOM.DLL",
      { "capicom_ed_create", "capicom_ed_destroy", "capicom_ed_set_algorithm",
        "capicom_ed_set_secret", "capicom_ed_encrypt", "capicom_ed_decrypt", "capicom_ed_error",
        "capicom_free" } },
};

// True when current is the same as or later than required, part by part from major.
bool FncCmpVersion(const FileVersion &current, const FileVersion &required);

// "major.minor.build.revision" in decimal.
std::string VersionText(const FileVersion &version);

// A kernel release such as "6.1.0-18-amd64" as major, minor, patch and the
// number right after the first "-" (0 when there is none, as in "6.8.0-rc3").
// Nothing when it does not begin with a number.
std::optional<FileVersion> ParseKernelRelease(const std::string &release);

// The running kernel's release as a version; nothing when it cannot be read.
std::optional<FileVersion> RunningKernelVersion();

// True when the running kernel is at least kOldestKernelVersion. When it is
// older, msg receives the two-line message for the user, which still names
// ADVAPI32.DLL as the Windows program's message did; when the version cannot
// be read, the result is false and msg stays empty.
bool FncChkVersion(std::string &msg);
bool FncChkVersion(std::string &msg, const std::optional<FileVersion> &current);

// True when all three libraries load with every entry point. Shows the
// message for the first one that is missing or cannot be used (and looks no
// further): "…が見つかりません!!" when there is no such file, otherwise
// "…を読み込めません!!" with the file and the loader's reason.
bool FncChkDll(Display &display);
bool FncChkDll(Display &display, const std::function<LibraryProbe(const RequiredLibrary &)> &probe);

// The settings file in the given program folder.
std::string IniFilePathIn(const std::string &programFolder);

} // namespace kestlin
