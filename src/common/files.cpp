#include "common/files.h"

#include "common/syserror.h"

#include <cerrno>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>

namespace kestlin {

namespace {
bool IsHiddenName(std::string_view name)
{
    return !name.empty() && name.front() == '.';
}
} // namespace

bool OrdinaryFileExists(const std::string &path)
{
    struct stat st
    {
    };
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return false;
    return S_ISREG(st.st_mode) && !IsHiddenName(FileNameOf(path));
}

bool FolderExists(const std::string &path)
{
    struct stat st
    {
    };
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool NameTaken(const std::string &path)
{
    return FolderExists(path) || OrdinaryFileExists(path);
}

bool CreateFolder(const std::string &path, std::string &reason, mode_t mode)
{
    if (::mkdir(path.c_str(), mode) == 0)
        return true;
    reason = SystemErrorText(errno);
    return false;
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string joined(folder);
    if (joined.empty() || joined.back() != '/')
        joined.push_back('/');
    joined.append(name);
    return joined;
}

std::string FileNameOf(std::string_view path)
{
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool CopyFileReplacing(const std::string &from, const std::string &to, std::string &reason)
{
    std::error_code ec;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
    if (!ec)
        return true;
    reason = SystemErrorText(ec);
    return false;
}

bool ListOrdinaryFiles(const std::string &folder, std::vector<std::string> &names,
                       std::string &reason)
{
    DIR *dir = ::opendir(folder.c_str());
    if (!dir) {
        reason = SystemErrorText(errno);
        return false;
    }
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (OrdinaryFileExists(JoinPath(folder, name)))
            names.push_back(std::move(name));
        errno = 0;
    }
    int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        reason = SystemErrorText(readError);
        return false;
    }
    return true;
}

} // namespace kestlin
