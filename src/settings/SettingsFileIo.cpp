#include "settings/SettingsFileIo.h"

#include "common/fdio.h"

#include <cerrno>
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

} // namespace kestlin::settingsfile
