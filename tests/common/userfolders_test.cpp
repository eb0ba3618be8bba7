// Where a portable and an installed copy keep their files.
#include "common/files.h"
#include "common/userfolders.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

using namespace kestlin;
using kestlin::test::TempDir;

namespace {

struct Environment
{
    std::map<std::string, std::string> values;
    EnvironmentLookup Lookup() const
    {
        return [this](const char *name) -> const char * {
            const auto found = values.find(name);
            return found == values.end() ? nullptr : found->second.c_str();
        };
    }
};

mode_t ModeOf(const std::string &path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST(UserFolders, OnlyTheInstallMarkerMakesACopyKeepItsFilesPerUser)
{
    TempDir program;
    const Environment env { { { "HOME", "/home/u" }, { "XDG_CONFIG_HOME", "/etc/cfg" } } };
    FileLocations files = LocateFiles(program.path(), env.Lookup());
    EXPECT_FALSE(files.perUser);
    EXPECT_EQ(files.settingsFolder, program.path());
    EXPECT_EQ(files.errorLogFolder, program.path());
    EXPECT_EQ(files.workFolder, program.path());
    std::string message;
    EXPECT_TRUE(MakeUserFolders(files, message));

    test::WriteFile(program / kInstalledMarker, "");
    files = LocateFiles(program.path(), env.Lookup());
    EXPECT_TRUE(files.perUser);
    EXPECT_EQ(files.settingsFolder, "/etc/cfg/kestlin");
    EXPECT_EQ(files.errorLogFolder, "/home/u/.local/state/kestlin");
    EXPECT_EQ(files.workFolder, "/home/u/.local/share/kestlin");
}

TEST(UserFolders, RelativeBaseDirectoriesAreIgnoredAndNoHomeIsRefused)
{
    TempDir program;
    test::WriteFile(program / kInstalledMarker, "");
    Environment env { { { "HOME", "/home/u" },
                        { "XDG_CONFIG_HOME", "cfg" },
                        { "XDG_STATE_HOME", "" },
                        { "XDG_DATA_HOME", "./data" } } };
    FileLocations files = LocateFiles(program.path(), env.Lookup());
    EXPECT_EQ(files.settingsFolder, "/home/u/.config/kestlin");
    EXPECT_EQ(files.errorLogFolder, "/home/u/.local/state/kestlin");
    EXPECT_EQ(files.workFolder, "/home/u/.local/share/kestlin");

    for (const char *home : { "", "home/u" }) {
        env.values["HOME"] = home;
        files = LocateFiles(program.path(), env.Lookup());
        EXPECT_TRUE(files.settingsFolder.empty() && files.workFolder.empty()) << home;
        std::string message;
        EXPECT_FALSE(MakeUserFolders(files, message));
        EXPECT_NE(message.find("ユーザーごとのフォルダの場所が決まりません。"), std::string::npos);
    }
}

TEST(UserFolders, MissingFoldersAreMadeOwnerOnlyAndAFileInTheWayStopsIt)
{
    TempDir program, place;
    test::WriteFile(program / kInstalledMarker, "");
    ::chmod(place.path().c_str(), 0755);
    const Environment env { { { "HOME", place / "home" } } };
    const FileLocations files = LocateFiles(program.path(), env.Lookup());
    std::string message;
    ASSERT_TRUE(MakeUserFolders(files, message)) << message;
    for (const std::string folder : { "home", "home/.config", "home/.config/kestlin",
                                      "home/.local/state/kestlin", "home/.local/share/kestlin" })
        EXPECT_EQ(ModeOf(place / folder), 0700u) << folder;
    EXPECT_EQ(ModeOf(place.path()), 0755u) << "a folder that exists keeps its rights";
    EXPECT_TRUE(MakeUserFolders(files, message)) << "a second start finds them there";

    std::filesystem::remove_all(place / "home/.local");
    test::WriteFile(place / "home/.local", "");
    ASSERT_FALSE(MakeUserFolders(files, message));
    // The level in the way is named, not the folder that was wanted.
    EXPECT_EQ(message.rfind("ユーザーごとのフォルダを作成できません。\r\n" + place / "home/.local"
                                + "\r\n",
                            0),
              0u)
        << message;
    EXPECT_FALSE(FolderExists(files.workFolder));
}
