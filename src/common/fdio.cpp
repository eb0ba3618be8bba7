#include "common/fdio.h"

#include <cerrno>
#include <unistd.h>

namespace kestlin {

bool WriteAll(int fd, const void *data, std::size_t size)
{
    const char *next = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, next, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        next += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadUpTo(int fd, void *buffer, std::size_t size, std::size_t &got)
{
    char *into = static_cast<char *>(buffer);
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, into + got, size - got);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace kestlin
