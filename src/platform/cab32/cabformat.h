#pragma once
// Fixed numbers and small encodings of the Microsoft Cabinet format.
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace kestlin::cab32 {

// Uncompressed bytes per data block; MSZIP keeps this much history.
constexpr uint32_t kBlockSize = 32768;
// Largest compressed MSZIP block ("CK" and the deflate data) readers accept.
constexpr uint32_t kMaxMszipBlock = kBlockSize + 12;
constexpr uint32_t kMaxBlocksPerFolder = 0xFFFF;
constexpr uint32_t kMaxFiles = 0xFFFF;
constexpr uint32_t kMaxNameBytes = 255;

constexpr uint32_t kHeaderSize = 36;
constexpr uint32_t kFolderEntrySize = 8;
constexpr uint32_t kFileEntryFixedSize = 16;
constexpr uint32_t kDataHeaderSize = 8;

constexpr uint16_t kCompressNone = 0;
constexpr uint16_t kCompressMszip = 1;

constexpr uint16_t kAttribReadOnly = 0x01;
constexpr uint16_t kAttribHidden = 0x02;
constexpr uint16_t kAttribArchive = 0x20;
constexpr uint16_t kAttribUtf8Name = 0x80;

// The cabinet checksum: 32-bit little-endian words XORed together, with the
// tail bytes packed high to low.
uint32_t Checksum(const uint8_t *data, size_t size, uint32_t seed);

// Checksum of one data block: its data, then its two size fields.
uint32_t DataBlockChecksum(const uint8_t *data, uint16_t compressedSize, uint16_t uncompressedSize);

struct DosStamp
{
    uint16_t date = 0;
    uint16_t time = 0;
};

// Local time as DOS date and time (two-second steps), clamped to 1980..2107.
DosStamp ToDosStamp(time_t t);

inline void PutLE16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLE32(uint8_t *p, uint32_t v)
{
    PutLE16(p, static_cast<uint16_t>(v));
    PutLE16(p + 2, static_cast<uint16_t>(v >> 16));
}

} // namespace kestlin::cab32
