#pragma once
// Where a copy of the program keeps what it writes. A portable copy (a build
// folder, or a folder it was unpacked into) keeps its settings file, its error
// logs and its first-time work folders in the program folder. An installed copy
// never writes into its own folder: every user gets folders of their own under
// the XDG base directories.
#include <functional>
#include <string>

namespace kestlin {

// The install step puts a file of this name into the program folder, and its
// presence alone makes a copy an installed one. Neither the path nor the
// rights of the folder decide: a package unpacked into a staging root is an
// installed copy too, and root, who may write anywhere, still writes nothing
// into /usr.
inline constexpr const char *kInstalledMarker = "kestlin-installed";

struct FileLocations
{
    std::string settingsFolder; // Kestlin.INI; the single-instance lock follows it
    std::string errorLogFolder; // the error logs
    std::string workFolder; // first-time 添付ファイルLOG and 作業ﾌｫﾙﾀﾞ
    bool perUser = false; // the user's own folders, made when missing
    std::string failure; // why the user's folders cannot be named; then all are empty
};

// The value of an environment variable, or null.
using EnvironmentLookup = std::function<const char *(const char *)>;

// An installed copy: settings in $XDG_CONFIG_HOME/kestlin, error logs in
// $XDG_STATE_HOME/kestlin, work folders in $XDG_DATA_HOME/kestlin, each base
// falling back to its place under $HOME when the variable does not hold an
// absolute path.
FileLocations LocateFiles(const std::string &programFolder, const EnvironmentLookup &getenv);

// The locations of the running program, from its own folder and environment.
FileLocations LocateFiles();

// Makes the user's folders that are missing, with any missing parents,
// readable by the owner only; folders that exist are left as they are. A
// portable copy has nothing to make. False with the message for the user.
bool MakeUserFolders(const FileLocations &locations, std::string &message);

} // namespace kestlin
