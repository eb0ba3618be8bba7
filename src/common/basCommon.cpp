#include "common/basCommon.h"

#include "common/Display.h"
#include "common/cp932.h"
#include "common/files.h"
#include "common/syserror.h"
#include "common/textfile.h"
#include "common/timestamp.h"
#include "common/userfolders.h"
#include "common/utf8.h"

#include <cerrno>
#include <dirent.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestlin {

namespace {

bool IsAllowedMailByte(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-'
           || c == '.' || c == '@' || c == '_';
}

// The address split into its characters, each converted on its own to CP932.
std::vector<std::string> Cp932Characters(const std::string &address)
{
    std::vector<std::string> characters;
    for (size_t i = 0; i < address.size();) {
        const size_t n = utf8::Next(std::string_view(address).substr(i)).length;
        characters.push_back(cp932::FromUtf8(std::string_view(address).substr(i, n)));
        i += n;
    }
    return characters;
}

bool Fail(std::string &errText, const std::string &reason)
{
    if (errText.empty())
        errText = reason;
    return false;
}

bool RemoveTree(const std::string &path, std::string &errText);

// Deletes one entry of a folder being removed: folders by recursion, anything
// else (files, links, sockets) as a name, so that a link is never followed.
bool RemoveEntry(const std::string &path, std::string &errText)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return Fail(errText, SystemErrorText(errno));
    if (S_ISDIR(st.st_mode))
        return RemoveTree(path, errText);
    if (::unlink(path.c_str()) != 0)
        return Fail(errText, SystemErrorText(errno));
    return true;
}

bool RemoveTree(const std::string &path, std::string &errText)
{
    // The whole listing is taken before anything is deleted.
    std::vector<std::string> entries;
    DIR *dir = ::opendir(path.c_str());
    if (!dir)
        return Fail(errText, SystemErrorText(errno));
    while (const dirent *entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            entries.push_back(JoinPath(path, name));
    }
    ::closedir(dir);

    for (const std::string &entry : entries) {
        std::string inner;
        if (!RemoveEntry(entry, inner)) {
            errText = inner;
            return false;
        }
    }
    if (::rmdir(path.c_str()) != 0)
        return Fail(errText, SystemErrorText(errno));
    return true;
}

} // namespace

bool ChkMailAddress(const std::string &address, std::string &errText)
{
    const std::vector<std::string> characters = Cp932Characters(address);
    size_t atSigns = 0;
    for (const std::string &c : characters)
        atSigns += c == "@";
    if (atSigns == 0)
        return Fail(errText, "メールアドレス内に\"@\"がありません。");
    if (atSigns > 1)
        return Fail(errText, "メールアドレス内に\"@\"が複数あります。");
    for (const std::string &c : characters) {
        if (c.size() >= 2)
            return Fail(errText, "メールアドレスに全角は入力できません。");
    }
    for (const std::string &c : characters) {
        if (c.empty() || !IsAllowedMailByte(static_cast<unsigned char>(c[0])))
            return Fail(errText, "電子メールに使用できない文字が入力されています。");
    }
    return true;
}

bool DelFolder(const std::string &path, std::string &errText)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return Fail(errText, "指定されたパスが存在しません。");
    if (S_ISDIR(st.st_mode))
        return RemoveTree(path, errText);
    if (OrdinaryFileExists(path) && !S_ISLNK(st.st_mode)) {
        // The path names an ordinary file, not a folder: nothing is deleted.
        return Fail(errText, SystemErrorText(ENOTDIR));
    }
    // A hidden or system file, or a link (removed as a link, never followed).
    if (::unlink(path.c_str()) != 0)
        return Fail(errText, SystemErrorText(errno));
    return true;
}

bool WriteErrLog(Display &display, const std::string &message, const std::string &title)
{
    const std::string path
        = JoinPath(LocateFiles().errorLogFolder, "Err_" + FormatLogStamp(Now()) + ".LOG");
    std::string reason;
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) == 0 && ::unlink(path.c_str()) != 0)
        reason = SystemErrorText(errno);
    if (reason.empty() && WriteTextLine(path, message + "," + title, reason))
        return true;
    display.ShowMessage(reason, kProgramName, MsgIcon::None);
    return false;
}

std::optional<std::string> BrowseFolder(Display &display, uint32_t /*hwnd*/,
                                        const std::string &startFolder)
{
    return display.ChooseFolderFrom("フォルダの選択", startFolder);
}

std::string GetSpecialFolder(int32_t code)
{
    if (code != kDocumentsFolder)
        return {};
    // GLib reads user-dirs.dirs once per process; the program never changes
    // that file, and reloading the cache leaks the strings handed out before.
    const char *documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    // The configured folder may never have been made (or was removed): the
    // callers write into what this gives, so it has to exist.
    const char *folder = documents && FolderExists(documents) ? documents : g_get_home_dir();
    return folder ? std::string(folder) : std::string();
}

} // namespace kestlin
