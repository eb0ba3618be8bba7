#include "settings/clsIniFile.h"

#include "common/atomicfile.h"
#include "common/cp932.h"
#include "common/syserror.h"
#include "settings/IniText.h"
#include "settings/SettingsFileIo.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

namespace kestlin {
namespace {

// A string read returns at most this many CP932 bytes: the platform reads into
// an area of 255 bytes that also holds the closing zero.
constexpr std::size_t kMaxValueBytes = 254;

const char kWriteError[] = "WriteValueString INIﾌｧｲﾙ書込みｴﾗｰ。 ";
const char kNoSystemText[] = "登録されていない、ｼｽﾃﾑｴﾗｰが発生しました。";

// What the platform's C-string arguments carry: the text up to a NUL.
std::string_view UpToNul(const std::string &s)
{
    return std::string_view(s).substr(0, s.find('\0'));
}

// The stored value in CP932 bytes, or nothing when the file, the section or
// the key is missing or the file cannot be read. Every call reads the file
// anew: a value written by any instance is seen by the next read.
std::optional<std::string> ReadStored(const std::string &path, const std::string &section,
                                      const std::string &key)
{
    std::string bytes;
    struct stat info = {};
    int error = 0;
    if (!settingsfile::ReadWhole(path, settingsfile::Access::Read, bytes, info, error))
        return std::nullopt;
    return ini::FindValue(bytes, section, key);
}

// A failure that the system has no code for.
constexpr int kNoCode = -1;

// Writes the values in one replace of the whole file; 0 on success, else the
// errno code of the failure.
int Store(const std::string &path, const std::vector<clsIniFile::Value> &values)
{
    // A line break, or "=" in a key, would write lines that read back as
    // other keys or sections: refuse rather than corrupt the file.
    for (const clsIniFile::Value &v : values) {
        if (!ini::IsWritableSection(UpToNul(v.section)) || !ini::IsWritableKey(UpToNul(v.key))
            || !ini::IsWritableValue(UpToNul(v.value)))
            return EINVAL;
    }
    const std::string target = FollowLinks(path);
    std::string old;
    struct stat info = {};
    int error = 0;
    const bool exists
        = settingsfile::ReadWhole(target, settingsfile::Access::Update, old, info, error);
    if (!exists && error != ENOENT)
        return error;
    std::string next = old;
    for (const clsIniFile::Value &v : values) {
        std::optional<std::string> changed
            = ini::SetValue(next, UpToNul(v.section), UpToNul(v.key), UpToNul(v.value));
        if (!changed)
            return kNoCode;
        next = std::move(*changed);
    }
    if (exists && next == old)
        return 0; // nothing to change: the file is left alone
    // A new file is readable by its owner only: it holds the stored passwords.
    error = 0;
    ReplaceFileAtomically(target, next, error, 0600);
    return error;
}

} // namespace

std::string clsIniFile::GetValue(const std::string &path, const std::string &section,
                                 const std::string &key, int16_t mode)
{
    try {
        if (mode == 0)
            return GetValueString(section, key, path);
        if (mode == 1)
            return GetValueInt(section, key, path);
    } catch (...) {
        // Reads never fail: what cannot be read counts as missing.
        return mode == 1 ? "0" : "";
    }
    return {};
}

std::string clsIniFile::GetIni(int16_t mode)
{
    return GetValue(pathIniFile_, section_, key_, mode);
}

bool clsIniFile::WriteIniValue(const std::string &value, const std::string &section,
                               const std::string &key, const std::string &path)
{
    return WriteValueString(section, key, value, path);
}

bool clsIniFile::WriteValue(const std::string &value)
{
    return WriteValueString(section_, key_, value, pathIniFile_);
}

std::string clsIniFile::GetValueString(const std::string &section, const std::string &key,
                                       const std::string &path)
{
    std::optional<std::string> stored = ReadStored(path, section, key);
    if (!stored)
        return {};
    // Where the cut falls inside a double-byte character the platform drops
    // the half character rather than returning a lone lead byte (seen with
    // Wine's profile functions under code page 932).
    return cp932::ToUtf8(ini::CutCp932(*stored, kMaxValueBytes));
}

std::string clsIniFile::GetValueInt(const std::string &section, const std::string &key,
                                    const std::string &path)
{
    std::optional<std::string> stored = ReadStored(path, section, key);
    if (!stored)
        return "0";
    return std::to_string(ini::ParseProfileInt(cp932::ToUtf8(*stored)));
}

bool clsIniFile::WriteValueString(const std::string &section, const std::string &key,
                                  const std::string &value, const std::string &path)
{
    try {
        // Success is the write's own result, not the thread's last error code:
        // a successful profile write can leave that code non-zero (Wine's
        // leaves 183 or 87), which would report a good write as failed.
        const int error = Store(path, { { section, key, value } });
        if (error == 0)
            return true;
        if (error != kNoCode) {
            errMessage_ = GetSystemErrMessage(error);
            errMessage_ = kWriteError + errMessage_;
        }
        return false;
    } catch (...) {
        return false;
    }
}

bool clsIniFile::WriteValues(const std::string &path, const std::vector<Value> &values)
{
    try {
        const int error = Store(path, values);
        if (error == 0)
            return true;
        if (error != kNoCode)
            errMessage_ = kWriteError + GetSystemErrMessage(error);
        return false;
    } catch (...) {
        return false;
    }
}

std::string clsIniFile::GetSystemErrMessage(int code)
{
    // A code the system has no name for has no text either; strerror would
    // make one up ("Unknown error N").
    std::string text = strerrorname_np(code) ? SystemErrorText(code) : std::string();
    return text.empty() ? kNoSystemText : text;
}

} // namespace kestlin
