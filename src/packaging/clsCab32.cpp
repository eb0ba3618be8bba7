#include "packaging/clsCab32.h"

#include "common/dynlib.h"
#include "common/syserror.h"
#include "packaging/cab32library.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace kestlin {

std::string &Cab32LibraryName()
{
    static std::string name = "libcab32.so";
    return name;
}

namespace {

using CabFunction = int32_t (*)(uint32_t, const char *, char *, int32_t);
using CheckFunction = int32_t (*)(const char *, int32_t);

constexpr int16_t kMszip = 1;
constexpr int16_t kLzx = 2;
constexpr int16_t kQuantum = 3;
constexpr int16_t kStored = 4;

struct PathParts
{
    std::string folder; // up to and including the last "/"
    std::string name;
    std::string base; // name without its extension
};

bool SplitPath(const std::string &path, PathParts &parts, std::string &reason)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) {
        reason = "フォルダを含まないパスです: " + path;
        return false;
    }
    parts.folder = path.substr(0, slash + 1);
    parts.name = path.substr(slash + 1);
    // The extension starts at the last "." that is not the final character.
    std::string::size_type dot
        = parts.name.size() < 2 ? std::string::npos : parts.name.rfind('.', parts.name.size() - 2);
    parts.base = dot == std::string::npos ? parts.name : parts.name.substr(0, dot);
    return true;
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

std::string HexCode(int32_t result)
{
    char digits[9];
    std::snprintf(digits, sizeof digits, "%X", static_cast<uint32_t>(result));
    return digits;
}

} // namespace

void clsCab32::MODE(int16_t value)
{
    switch (value) {
    case kLzx:
        level_ = 15;
        break;
    case kQuantum:
        level_ = 1;
        break;
    case kStored:
        level_ = 0;
        break;
    default:
        value = kMszip;
        level_ = 0;
        break;
    }
    mode_ = value;
}

void clsCab32::LEVEL(int16_t value)
{
    if (mode_ == kLzx)
        level_ = value >= 15 && value <= 21 ? value : 15;
    else if (mode_ == kQuantum)
        level_ = value >= 1 && value <= 7 ? value : 7;
    else
        level_ = 0;
}

std::string clsCab32::MethodSwitch() const
{
    switch (mode_) {
    case kLzx:
        return " -ml" + std::to_string(level_);
    case kQuantum:
        return " -mq" + std::to_string(level_);
    case kStored:
        return " -ms";
    default:
        return " -mz";
    }
}

bool clsCab32::CompressCommand(std::string &command)
{
    struct stat st
    {
    };
    if (::stat(inFile_.c_str(), &st) != 0) {
        errMsg_ = inFile_ + ": " + SystemErrorText(errno);
        return false;
    }
    command = "-a -r";
    if (silent_)
        command += " -i";
    if (overWrite_)
        command += " -o";
    command += MethodSwitch() + " ";
    if (S_ISDIR(st.st_mode)) {
        command += Quoted(outFile_.empty() ? inFile_ + ".cab" : outFile_);
        command += " " + Quoted(inFile_ + "/") + " *.*";
        return true;
    }
    PathParts parts;
    if (!SplitPath(inFile_, parts, errMsg_))
        return false;
    command += " " + Quoted(outFile_) + " " + Quoted(parts.folder) + " " + Quoted(parts.name);
    return true;
}

bool clsCab32::ExtractCommand(std::string &command)
{
    PathParts parts;
    if (!SplitPath(inFile_, parts, errMsg_))
        return false;
    std::string destination = parts.folder + parts.base;
    if (destination.back() != '/')
        destination += "/";
    command = "-x";
    if (overWrite_)
        command += " -o";
    if (silent_)
        command += " -i";
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on a chain of
    // temporaries appended to the same string.
    command += ' ';
    command += Quoted(inFile_);
    command += ' ';
    command += Quoted(destination);
    command += " *.*";
    return true;
}

bool clsCab32::Cabcmp()
{
    // A reason left over from an earlier call would be shown for this one.
    errMsg_.clear();
    SharedLibrary library;
    if (!library.Load(Cab32LibraryName(), errMsg_))
        return false;
    auto check = library.Function<CheckFunction>("CabCheckArchive", errMsg_);
    if (!check)
        return false;
    auto cab = library.Function<CabFunction>("Cab", errMsg_);
    if (!cab)
        return false;
    std::string command;
    bool extract = check(inFile_.c_str(), 1) != 0;
    if (!(extract ? ExtractCommand(command) : CompressCommand(command)))
        return false;
    // The library shows no window, so it has no owner window to be given;
    // its own words say why it failed (a full disk reads as one).
    std::string output(4096, '\0');
    int32_t result = cab(0, command.c_str(), output.data(), static_cast<int32_t>(output.size()));
    if (result != 0) {
        output.resize(std::strlen(output.c_str()));
        errMsg_ = "圧縮解凍処理にに失敗しました。Error Code:0x" + HexCode(result);
        if (!output.empty())
            errMsg_ += "\r\n" + output;
        return false;
    }
    return true;
}

} // namespace kestlin
