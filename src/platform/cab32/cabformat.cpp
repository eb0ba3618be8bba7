#include "cabformat.h"

namespace kestlin::cab32 {

uint32_t Checksum(const uint8_t *data, size_t size, uint32_t seed)
{
    uint32_t sum = seed;
    size_t words = size / 4;
    const uint8_t *p = data;
    for (size_t i = 0; i < words; ++i, p += 4)
        sum ^= uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    uint32_t tail = 0;
    switch (size % 4) {
    case 3:
        tail |= uint32_t(*p++) << 16;
        [[fallthrough]];
    case 2:
        tail |= uint32_t(*p++) << 8;
        [[fallthrough]];
    case 1:
        tail |= uint32_t(*p);
        break;
    default:
        break;
    }
    return sum ^ tail;
}

uint32_t DataBlockChecksum(const uint8_t *data, uint16_t compressedSize, uint16_t uncompressedSize)
{
    uint8_t sizes[4];
    PutLE16(sizes, compressedSize);
    PutLE16(sizes + 2, uncompressedSize);
    return Checksum(sizes, sizeof sizes, Checksum(data, compressedSize, 0));
}

DosStamp ToDosStamp(time_t t)
{
    struct tm local
    {
    };
    if (!::localtime_r(&t, &local) || local.tm_year < 80)
        return DosStamp { (0 << 9) | (1 << 5) | 1, 0 };
    if (local.tm_year > 207)
        return DosStamp { (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29 };
    DosStamp s;
    s.date = static_cast<uint16_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5
                                   | local.tm_mday);
    s.time = static_cast<uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return s;
}

} // namespace kestlin::cab32
