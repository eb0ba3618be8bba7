#include "settings/SettingsFileIo.h"

#include "common/fdio.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace kestlin::settingsfile {
namespace {

bool ReadAll(int fd, std::string &bytes)
{
    char buffer[65536];
    std::size_t got = 0;
    do {
        if (!ReadUpTo(fd, buffer, sizeof buffer, got))
            return false;
        bytes.append(buffer, got);
    } while (got == sizeof buffer);
    return true;
}

std::string FolderOf(const std::string &path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The new file takes the old one's owner (when we may give it) and mode.
bool CopyAccess(int fd, const struct stat *existing)
{
    if (!existing)
        return ::fchmod(fd, 0600) == 0;
    if ((existing->st_uid != ::geteuid() || existing->st_gid != ::getegid())
        && ::fchown(fd, existing->st_uid, existing->st_gid) != 0) {
        // Only a privileged writer can hand a file to someone else; the file
        // stays with its writer then, as a rewrite in place would not.
    }
    return ::fchmod(fd, existing->st_mode & 07777) == 0;
}

void SyncFolder(const std::string &folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd); // the rename itself has happened; this only hastens it to disk
    ::close(fd);
}

} // namespace

bool ReadWhole(const std::string &path, Access access, std::string &bytes, struct stat &info,
               int &error)
{
    // Non-blocking: a pipe or device under the name must not hang the reader.
    const int mode = access == Access::Update ? O_RDWR : O_RDONLY;
    int fd = ::open(path.c_str(), mode | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    bool ok = ::fstat(fd, &info) == 0;
    error = ok ? 0 : errno;
    if (ok && !S_ISREG(info.st_mode)) {
        ok = false;
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }
    if (ok && !ReadAll(fd, bytes)) {
        ok = false;
        error = errno;
    }
    ::close(fd);
    return ok;
}

std::string FollowLinks(const std::string &path)
{
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        ssize_t n = ::readlink(current.c_str(), target, sizeof target - 1);
        if (n <= 0)
            return current;
        std::string link(target, static_cast<std::size_t>(n));
        current = link.front() == '/' ? link : FolderOf(current) + "/" + link;
    }
    return current; // a loop: opening it reports ELOOP
}

bool Replace(const std::string &path, const std::string &bytes, const struct stat *existing,
             int &error)
{
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        error = path.empty() ? ENOENT : EISDIR;
        return false;
    }
    std::string temporary = FolderOf(path) + "/." + name + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    bool ok
        = WriteAll(fd, bytes.data(), bytes.size()) && CopyAccess(fd, existing) && ::fsync(fd) == 0;
    error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolder(FolderOf(path));
    return true;
}

} // namespace kestlin::settingsfile
