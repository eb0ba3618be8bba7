#include "layout.h"

#include "cab32.h"
#include "cabformat.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace kestlin::cab32 {
namespace {

constexpr uint16_t kFlagPrevious = 0x0001;
constexpr uint16_t kFlagNext = 0x0002;
constexpr uint16_t kFlagReserve = 0x0004;

Status Damaged(const std::string &what)
{
    return Fail(CAB32_E_DATA, "書庫のデータが壊れています (" + what + ")");
}

// Reads little-endian fields at absolute offsets of the archive.
class Reader
{
public:
    explicit Reader(int fd)
        : fd_(fd)
    { }

    bool Read(uint64_t at, uint8_t *buffer, size_t size) const
    {
        return ::pread(fd_, buffer, size, static_cast<off_t>(at)) == static_cast<ssize_t>(size);
    }
    bool U8(uint64_t at, uint32_t &v) const { return Field(at, 1, v); }
    bool U16(uint64_t at, uint32_t &v) const { return Field(at, 2, v); }
    bool U32(uint64_t at, uint32_t &v) const { return Field(at, 4, v); }

    // The offset after the null-terminated string at at.
    bool SkipString(uint64_t &at) const
    {
        uint8_t buffer[256];
        const ssize_t n = ::pread(fd_, buffer, sizeof buffer, static_cast<off_t>(at));
        const uint8_t *end = n > 0 ? std::find(buffer, buffer + n, 0) : buffer;
        if (n <= 0 || end == buffer + n)
            return false;
        at += static_cast<uint64_t>(end - buffer) + 1;
        return true;
    }

private:
    bool Field(uint64_t at, size_t size, uint32_t &v) const
    {
        uint8_t b[4];
        if (!Read(at, b, size))
            return false;
        v = 0;
        for (size_t i = size; i-- > 0;)
            v = v << 8 | b[i];
        return true;
    }

    int fd_;
};

// The sum of what the folder's blocks declare, from their headers alone.
Status WalkBlocks(const Reader &in, uint64_t at, uint32_t blocks, uint32_t blockReserve,
                  uint64_t &bytes)
{
    bytes = 0;
    for (uint32_t i = 0; i < blocks; ++i) {
        uint32_t compressed = 0;
        uint32_t uncompressed = 0;
        if (!in.U16(at + 4, compressed) || !in.U16(at + 6, uncompressed))
            return Damaged("データブロックが途中で切れています");
        if (uncompressed > kBlockSize)
            return Damaged("データブロックが 32 KiB を超えます");
        bytes += uncompressed;
        at += kDataHeaderSize + blockReserve + compressed;
    }
    return {};
}

} // namespace

Status ReadFolderData(int fd, std::vector<FolderData> &folders)
{
    const Reader in(fd);
    uint32_t count = 0;
    uint32_t flags = 0;
    if (!in.U16(26, count) || !in.U16(30, flags))
        return Damaged("見出しが読めません");
    uint64_t at = kHeaderSize;
    uint32_t headerReserve = 0;
    uint32_t folderReserve = 0;
    uint32_t blockReserve = 0;
    if (flags & kFlagReserve) {
        if (!in.U16(at, headerReserve) || !in.U8(at + 2, folderReserve)
            || !in.U8(at + 3, blockReserve))
            return Damaged("見出しが読めません");
        at += 4 + headerReserve;
    }
    for (int strings = ((flags & kFlagPrevious) ? 2 : 0) + ((flags & kFlagNext) ? 2 : 0);
         strings > 0; --strings) {
        if (!in.SkipString(at))
            return Damaged("見出しが読めません");
    }
    folders.assign(count, FolderData {});
    for (FolderData &folder : folders) {
        uint32_t start = 0;
        uint32_t blocks = 0;
        uint32_t compression = 0;
        if (!in.U32(at, start) || !in.U16(at + 4, blocks) || !in.U16(at + 6, compression))
            return Damaged("フォルダの表が読めません");
        folder.compression = static_cast<uint16_t>(compression);
        if (Status s = WalkBlocks(in, start, blocks, blockReserve, folder.bytes); !s.ok())
            return s;
        at += kFolderEntrySize + folderReserve;
    }
    return {};
}

Status CheckCompression(uint16_t compression)
{
    const unsigned method = compression & 0x000F;
    const unsigned window = compression >> 8 & 0x1F;
    const bool valid = method == 0 || method == 1 || (method == 2 && window >= 10 && window <= 21)
                       || (method == 3 && window >= 15 && window <= 21);
    if (valid)
        return {};
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", compression);
    return Damaged(std::string("展開できない圧縮方式 0x") + hex + " です");
}

Status CheckRanges(std::vector<FileRange> ranges, const std::vector<FolderData> &folders)
{
    std::sort(ranges.begin(), ranges.end(), [](const FileRange &a, const FileRange &b) {
        return a.folder != b.folder ? a.folder < b.folder : a.offset < b.offset;
    });
    const FileRange *previous = nullptr;
    for (const FileRange &r : ranges) {
        if (r.offset + r.length > folders.at(r.folder).bytes)
            return Damaged("ファイルがフォルダのデータの外を指しています: " + r.name);
        if (r.length == 0)
            continue;
        if (previous && previous->folder == r.folder
            && previous->offset + previous->length > r.offset)
            return Damaged("二つのファイルが同じデータを指しています: " + previous->name + " と "
                           + r.name);
        previous = &r;
    }
    return {};
}

} // namespace kestlin::cab32
