#include "common/userfolders.h"

#include "common/files.h"
#include "common/programfolder.h"

#include <cstdlib>
#include <filesystem>

namespace kestlin {

namespace {

constexpr const char *kFolderName = "kestlin";

// A base directory: the variable when it holds an absolute path (a relative one
// is ignored, as the base directory rules say), else its place under $HOME.
std::string BaseFolder(const EnvironmentLookup &getenv, const char *variable, const char *underHome)
{
    const char *value = getenv(variable);
    if (value && value[0] == '/')
        return value;
    const char *home = getenv("HOME");
    if (home && home[0] == '/')
        return JoinPath(home, underHome);
    return {};
}

// Each missing level of an absolute path, owner-only. On failure, level names
// the one that could not be made (a file in its place, say).
bool MakeFolderPath(const std::string &path, std::string &level, std::string &reason)
{
    std::filesystem::path made;
    for (const auto &part : std::filesystem::path(path).lexically_normal()) {
        if (part.empty())
            continue;
        made /= part;
        level = made.string();
        if (FolderExists(level))
            continue;
        // Another copy starting at the same moment may have made it meanwhile.
        if (!CreateFolder(level, reason, 0700) && !FolderExists(level))
            return false;
    }
    return true;
}

} // namespace

FileLocations LocateFiles(const std::string &programFolder, const EnvironmentLookup &getenv)
{
    FileLocations files;
    if (!OrdinaryFileExists(JoinPath(programFolder, kInstalledMarker))) {
        files.settingsFolder = files.errorLogFolder = files.workFolder = programFolder;
        return files;
    }
    files.perUser = true;
    const std::string config = BaseFolder(getenv, "XDG_CONFIG_HOME", ".config");
    const std::string state = BaseFolder(getenv, "XDG_STATE_HOME", ".local/state");
    const std::string data = BaseFolder(getenv, "XDG_DATA_HOME", ".local/share");
    if (config.empty() || state.empty() || data.empty()) {
        files.failure = "ユーザーごとのフォルダの場所が決まりません。\r\n"
                        "環境変数HOMEにホームフォルダの絶対パスを設定してから起動してください。";
        return files;
    }
    files.settingsFolder = JoinPath(config, kFolderName);
    files.errorLogFolder = JoinPath(state, kFolderName);
    files.workFolder = JoinPath(data, kFolderName);
    return files;
}

FileLocations LocateFiles()
{
    return LocateFiles(ProgramFolder(), [](const char *name) { return std::getenv(name); });
}

bool MakeUserFolders(const FileLocations &locations, std::string &message)
{
    if (!locations.failure.empty()) {
        message = locations.failure;
        return false;
    }
    if (!locations.perUser)
        return true;
    for (const std::string *folder :
         { &locations.settingsFolder, &locations.errorLogFolder, &locations.workFolder }) {
        std::string level, reason;
        if (!MakeFolderPath(*folder, level, reason)) {
            message = "ユーザーごとのフォルダを作成できません。\r\n" + level + "\r\n" + reason;
            return false;
        }
    }
    return true;
}

} // namespace kestlin
