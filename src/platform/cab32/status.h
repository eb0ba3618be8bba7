#pragma once
// Outcome of one step inside the library: a result code of cab32.h and the
// text that explains it.
#include <cstdint>
#include <string>

namespace kestlin::cab32 {

struct Status
{
    int32_t code = 0;
    std::string text;

    bool ok() const { return code == 0; }
};

inline Status Fail(int32_t code, std::string text)
{
    return Status { code, std::move(text) };
}

} // namespace kestlin::cab32

#include <cstring>

namespace kestlin::cab32 {

// The system's description of an errno value.
inline std::string ErrnoText(int errnum)
{
    char buffer[256];
    return ::strerror_r(errnum, buffer, sizeof buffer);
}

} // namespace kestlin::cab32
