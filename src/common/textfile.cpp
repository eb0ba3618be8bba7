#include "common/textfile.h"

#include "common/cp932.h"
#include "common/fdio.h"
#include "common/syserror.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestlin {

bool WriteTextLine(const std::string &path, const std::string &text, std::string &reason,
                   FileAccess access)
{
    const mode_t mode = access == FileAccess::OwnerOnly ? 0600 : 0666;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        reason = SystemErrorText(errno);
        return false;
    }
    // An existing file keeps its mode on open: tighten it before writing.
    bool ok = access == FileAccess::Default || ::fchmod(fd, 0600) == 0;
    const std::string bytes = cp932::FromUtf8(text) + "\r\n";
    ok = ok && WriteAll(fd, bytes.data(), bytes.size());
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok)
        reason = SystemErrorText(error);
    return ok;
}

} // namespace kestlin
