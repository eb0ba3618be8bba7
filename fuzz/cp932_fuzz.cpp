// Code page 932 at the edge of the program: any bytes read as CP932 give valid
// UTF-8, ASCII passes both ways unchanged, and what has been through a file
// once survives any further trip.
#include "FuzzCheck.h"
#include "common/cp932.h"

#include <algorithm>
#include <cstdint>
#include <string>

using namespace kestlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);

    const std::string read = cp932::ToUtf8(bytes);
    FUZZ_CHECK(fuzz::IsUtf8(read));

    const std::string stored = cp932::FromUtf8(bytes);
    FUZZ_CHECK(cp932::FromUtf8(cp932::ToUtf8(stored)) == stored);

    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
        FUZZ_CHECK(read == bytes && stored == bytes);
    return 0;
}
