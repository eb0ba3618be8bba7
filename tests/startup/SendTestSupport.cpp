#include "SendTestSupport.h"

#include "common/cp932.h"
#include "common/programfolder.h"
#include "packaging/clsCryptFile.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestlin::test {

namespace {

// A home of its own for the test process, set before any library caches the
// user's folders, so that the documents folder is known and empty.
struct TestHome
{
    std::string home;
    TestHome()
    {
        std::string pattern
            = (std::filesystem::temp_directory_path() / "kestlin-send-home-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        home = pattern;
        std::filesystem::create_directories(home + "/config");
        std::FILE *dirs = std::fopen((home + "/config/user-dirs.dirs").c_str(), "w");
        if (!dirs)
            std::abort();
        std::fputs("XDG_DOCUMENTS_DIR=\"$HOME/文書\"\n", dirs);
        std::fclose(dirs);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    }
    ~TestHome()
    {
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }
};

TestHome &Home()
{
    static TestHome home;
    return home;
}

// Made at start-up, before main and before any test touches glib.
const bool kHomeReady = (Home(), true);

} // namespace

void WriteIniByHand(const std::string &path, const IniSections &sections)
{
    std::string text;
    for (const auto &[section, keys] : sections) {
        text += "[" + section + "]\r\n";
        for (const auto &[key, value] : keys)
            text += key + "=" + value + "\r\n";
    }
    WriteFile(path, cp932::FromUtf8(text));
}

std::string Stored(const std::string &clear)
{
    clsCryptFile crypt;
    crypt.InFile(clear);
    crypt.Password("Ruda");
    EXPECT_TRUE(crypt.Encrypt(1)) << crypt.GetErrMsg();
    std::string text = crypt.OutFile();
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.erase(at, 2);
    return text;
}

std::vector<std::string> ErrLogNames()
{
    std::vector<std::string> names;
    for (const std::string &name : FolderNames(ProgramFolder())) {
        if (name.rfind("Err_", 0) == 0 && name.size() > 4
            && name.compare(name.size() - 4, 4, ".LOG") == 0)
            names.push_back(name);
    }
    return names;
}

void RemoveErrLogs()
{
    for (const std::string &name : ErrLogNames())
        std::filesystem::remove(ProgramFolder() + "/" + name);
}

std::string OnlyErrLog()
{
    const std::vector<std::string> names = ErrLogNames();
    EXPECT_EQ(names.size(), 1u);
    return names.size() == 1 ? cp932::ToUtf8(ReadFile(ProgramFolder() + "/" + names[0]))
                             : std::string();
}

std::string DocumentsFolder()
{
    (void)kHomeReady;
    return Home().home + "/文書";
}

void ResetDocumentsFolder()
{
    std::filesystem::remove_all(DocumentsFolder());
    std::filesystem::create_directories(DocumentsFolder());
}

DateTime TickingClock::operator()()
{
    ++reads;
    DateTime now = next;
    ++next.second; // the tests never cross a minute
    return now;
}

std::vector<std::string> FolderNames(const std::string &folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

unsigned ModeOf(const std::string &path)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

} // namespace kestlin::test
