#include "common/atomicfile.h"

#include "common/fdio.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestlin {
namespace {

std::string FolderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The new file takes the old one's mode, and its owner when we may give it:
// only a privileged writer can hand a file to someone else, and the file
// stays with its writer otherwise, as a rewrite in place would not.
bool CopyAccess(int fd, const std::string &target, mode_t newMode)
{
    struct stat existing = {};
    if (::stat(target.c_str(), &existing) != 0 || !S_ISREG(existing.st_mode))
        return ::fchmod(fd, newMode) == 0;
    if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // see above: kept with the writer
        }
    }
    return ::fchmod(fd, existing.st_mode & 07777) == 0;
}

void SyncFolder(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd); // the rename itself has happened; this only hastens it to disk
    ::close(fd);
}

} // namespace

std::string FollowLinks(const std::string &path)
{
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), target, sizeof target - 1);
        if (n <= 0)
            return current;
        std::string link(target, static_cast<std::size_t>(n));
        current = link.front() == '/' ? link : FolderOf(current) + "/" + link;
    }
    return current; // a loop: opening it reports ELOOP
}

AtomicFile::AtomicFile(const std::string &path, mode_t newMode)
    : target_(FollowLinks(path))
    , newMode_(newMode)
{ }

AtomicFile::~AtomicFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!temporary_.empty() && !committed_)
        ::unlink(temporary_.c_str());
}

bool AtomicFile::Open(int &error)
{
    const std::string name = NameOf(target_);
    if (name.empty()) {
        error = target_.empty() ? ENOENT : EISDIR;
        return false;
    }
    std::string temporary = FolderOf(target_) + "/." + name + ".XXXXXX";
    fd_ = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error = errno;
        return false;
    }
    temporary_ = temporary;
    return true;
}

bool AtomicFile::Commit(int &error, bool replace)
{
    if (fd_ < 0) {
        error = EBADF;
        return false;
    }
    bool ok = CopyAccess(fd_, target_, newMode_) && ::fsync(fd_) == 0;
    error = ok ? 0 : errno;
    if (::close(fd_) != 0 && ok) {
        ok = false;
        error = errno;
    }
    fd_ = -1;
    if (ok) {
        const int rc = replace ? ::rename(temporary_.c_str(), target_.c_str())
                               : ::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD,
                                             target_.c_str(), RENAME_NOREPLACE);
        if (rc != 0) {
            ok = false;
            error = errno;
        }
    }
    if (!ok)
        return false;
    committed_ = true;
    SyncFolder(FolderOf(target_));
    return true;
}

bool ReplaceFileAtomically(const std::string &path, std::string_view bytes, int &error,
                           mode_t newMode)
{
    AtomicFile file(path, newMode);
    if (!file.Open(error))
        return false;
    if (!WriteAll(file.fd(), bytes.data(), bytes.size())) {
        error = errno;
        return false;
    }
    return file.Commit(error);
}

} // namespace kestlin
