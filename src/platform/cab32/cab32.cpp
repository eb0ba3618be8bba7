// The two entry points of libcab32.so.
#include "cab32.h"

#include "extract.h"
#include "pack.h"

#include <cstring>
#include <exception>
#include <new>

namespace {

void CopyOutput(const std::string &text, char *output, int32_t size)
{
    if (!output || size <= 0)
        return;
    size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
    // Do not cut a UTF-8 character in half.
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(output, text.data(), n);
    output[n] = '\0';
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t Cab(uint32_t, const char *cmdline, char *output,
                                                   int32_t size)
{
    using namespace kestlin::cab32;
    try {
        std::string summary;
        Status s = RunCommandLine(cmdline, Limits {}, summary);
        CopyOutput(s.ok() ? summary : s.text, output, size);
        return s.code;
    } catch (const std::bad_alloc &) {
        CopyOutput("メモリが足りません", output, size);
        return CAB32_E_MEMORY;
    } catch (const std::exception &e) {
        CopyOutput(std::string("処理できませんでした: ") + e.what(), output, size);
        return CAB32_E_INTERNAL;
    } catch (...) {
        CopyOutput("処理できませんでした", output, size);
        return CAB32_E_INTERNAL;
    }
}

__attribute__((visibility("default"))) int32_t CabCheckArchive(const char *path, int32_t mode)
{
    try {
        return path && kestlin::cab32::IsValidCabinet(path, mode) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // extern "C"
