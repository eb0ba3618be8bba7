#include "common/syserror.h"

#include <cstring>

namespace kestlin {

std::string SystemErrorText(int errnum)
{
    char buffer[256];
    // GNU strerror_r: the translated text of the current LC_MESSAGES locale.
    const char *text = strerror_r(errnum, buffer, sizeof buffer);
    return text ? std::string(text) : std::string();
}

std::string SystemErrorText(const std::error_code &code)
{
    if (code.category() == std::system_category() || code.category() == std::generic_category())
        return SystemErrorText(code.value());
    return code.message();
}

} // namespace kestlin
