// Where an installed copy keeps its files (a portable copy keeps them in its
// own folder, as the start-up and error-log tests show).
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

EnvironmentLookup Env(std::map<std::string, std::string> values)
{
    return [values = std::move(values)](const char *name) -> const char * {
        const auto found = values.find(name);
        return found == values.end() ? nullptr : found->second.c_str();
    };
}

mode_t ModeOf(const std::string &path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST(UserFolders, AbsoluteBaseDirectoriesOrHomeAndNothingWithoutEither)
{
    TempDir program;
    const auto env = Env({ { "HOME", "/home/u" },
                           { "XDG_CONFIG_HOME", "/c" },
                           { "XDG_STATE_HOME", "state" },
                           { "XDG_DATA_HOME", "" } });
    EXPECT_FALSE(LocateFiles(program.path(), env).perUser) << "no marker: portable";

    test::WriteFile(program / kInstalledMarker, "");
    FileLocations files = LocateFiles(program.path(), env);
    EXPECT_EQ(files.settingsFolder, "/c/kestlin");
    EXPECT_EQ(files.errorLogFolder, "/home/u/.local/state/kestlin") << "a relative one is ignored";
    EXPECT_EQ(files.workFolder, "/home/u/.local/share/kestlin");

    files = LocateFiles(program.path(), Env({ { "HOME", "home/u" }, { "XDG_CONFIG_HOME", "/c" } }));
    EXPECT_TRUE(files.workFolder.empty());
    std::string message;
    EXPECT_FALSE(MakeUserFolders(files, message));
    EXPECT_EQ(message.rfind("ユーザーごとのフォルダの場所が決まりません。", 0), 0u) << message;
}

TEST(UserFolders, MissingFoldersAreMadeOwnerOnlyAndAFileInTheWayIsNamed)
{
    TempDir program, place;
    test::WriteFile(program / kInstalledMarker, "");
    ::chmod(place.path().c_str(), 0755);
    const FileLocations files = LocateFiles(program.path(), Env({ { "HOME", place / "home" } }));
    std::string message;
    ASSERT_TRUE(MakeUserFolders(files, message)) << message;
    for (const std::string folder : { "home", "home/.config/kestlin", "home/.local/state/kestlin",
                                      "home/.local/share/kestlin" })
        EXPECT_EQ(ModeOf(place / folder), 0700u) << folder;
    EXPECT_EQ(ModeOf(place.path()), 0755u) << "a folder that exists keeps its rights";

    std::filesystem::remove_all(place / "home/.local");
    test::WriteFile(place / "home/.local", "");
    ASSERT_FALSE(MakeUserFolders(files, message));
    const std::string named
        = "ユーザーごとのフォルダを作成できません。\r\n" + place / "home/.local";
    EXPECT_EQ(message.rfind(named + "\r\n", 0), 0u) << message;
}
