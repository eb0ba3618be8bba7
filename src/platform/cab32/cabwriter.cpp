#include "cabwriter.h"

#include "cab32.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <zlib.h>

namespace kestlin::cab32 {
namespace {

struct FolderPlan
{
    size_t firstEntry = 0;
    size_t endEntry = 0;
    uint64_t bytes = 0;
    uint32_t blocks = 0;
};

uint64_t BlocksFor(uint64_t bytes)
{
    return (bytes + kBlockSize - 1) / kBlockSize;
}

// Folders are cut from the sizes alone, before reading anything: a file never
// spans two folders, so a new folder starts before the file that would push
// the current one past its block limit.
Status PlanFolders(const std::vector<Entry> &entries, const Limits &limits,
                   std::vector<FolderPlan> &folders, std::vector<uint32_t> &offsets)
{
    if (entries.size() > limits.maxFiles)
        return Fail(CAB32_E_LIMIT, "ファイルが多すぎます (" + std::to_string(entries.size())
                                       + " 個、一つの書庫には " + std::to_string(limits.maxFiles)
                                       + " 個まで)");
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        if (BlocksFor(e.size) > limits.maxBlocksPerFolder)
            return Fail(CAB32_E_LIMIT, "ファイルが大きすぎます: " + e.displayName + " ("
                                           + std::to_string(e.size) + " バイト)");
        if (folders.empty() || BlocksFor(folders.back().bytes + e.size) > limits.maxBlocksPerFolder)
            folders.push_back(FolderPlan { i, i, 0, 0 });
        FolderPlan &f = folders.back();
        offsets.push_back(static_cast<uint32_t>(f.bytes));
        f.bytes += e.size;
        f.endEntry = i + 1;
        f.blocks = static_cast<uint32_t>(BlocksFor(f.bytes));
    }
    return {};
}

// Buffered writing of the archive, with patches at known offsets afterwards.
class Output
{
public:
    Output(int fd, uint64_t limit)
        : fd_(fd)
        , limit_(limit)
    { }

    uint64_t offset() const { return offset_; }

    Status Write(const uint8_t *data, size_t size)
    {
        if (offset_ + size > limit_)
            return Fail(CAB32_E_LIMIT, "書庫が大きくなりすぎます (4 GiB 未満まで)");
        offset_ += size;
        while (size > 0) {
            size_t n = std::min(size, sizeof buffer_ - used_);
            std::memcpy(buffer_ + used_, data, n);
            used_ += n;
            data += n;
            size -= n;
            if (used_ == sizeof buffer_) {
                if (Status s = Flush(); !s.ok())
                    return s;
            }
        }
        return {};
    }

    Status Flush()
    {
        size_t done = 0;
        while (done < used_) {
            ssize_t n = ::write(fd_, buffer_ + done, used_ - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return Fail(CAB32_E_WRITE,
                            "書庫を書き込めません: " + ErrnoText(n < 0 ? errno : ENOSPC));
            done += static_cast<size_t>(n);
        }
        used_ = 0;
        return {};
    }

    Status Patch(uint64_t at, const uint8_t *data, size_t size)
    {
        if (::pwrite(fd_, data, size, static_cast<off_t>(at)) != static_cast<ssize_t>(size))
            return Fail(CAB32_E_WRITE, "書庫を書き込めません: " + ErrnoText(errno));
        return {};
    }

private:
    int fd_;
    uint64_t limit_;
    uint64_t offset_ = 0;
    size_t used_ = 0;
    uint8_t buffer_[65536];
};

// Turns the input of a folder into data blocks. MSZIP blocks come from one
// deflate stream per folder, cut with a sync flush after every 32 KiB and
// closed with an empty final block: each block is a complete deflate stream
// as the format wants, and matches still reach back into the previous block,
// which the format keeps as history. Ratio is that of one continuous stream.
class BlockEncoder
{
public:
    explicit BlockEncoder(Method method)
        : method_(method)
    { }
    ~BlockEncoder()
    {
        if (ready_)
            ::deflateEnd(&stream_);
    }
    BlockEncoder(const BlockEncoder &) = delete;
    BlockEncoder &operator=(const BlockEncoder &) = delete;

    Status StartFolder()
    {
        if (method_ != Method::Mszip)
            return {};
        int rc = ready_ ? ::deflateReset(&stream_)
                        : ::deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8,
                                         Z_DEFAULT_STRATEGY);
        if (rc != Z_OK)
            return Fail(CAB32_E_MEMORY, "圧縮の準備ができません");
        ready_ = true;
        return {};
    }

    // The block's bytes as stored; valid until the next call.
    const std::vector<uint8_t> &Encode(const uint8_t *data, uint32_t size)
    {
        out_.clear();
        if (method_ == Method::None) {
            out_.assign(data, data + size);
            return out_;
        }
        out_ = { 'C', 'K' };
        stream_.next_in = const_cast<uint8_t *>(data);
        stream_.avail_in = size;
        do {
            size_t used = out_.size();
            out_.resize(used + kBlockSize);
            stream_.next_out = out_.data() + used;
            stream_.avail_out = kBlockSize;
            ::deflate(&stream_, Z_SYNC_FLUSH);
            out_.resize(out_.size() - stream_.avail_out);
        } while (stream_.avail_out == 0);
        out_.push_back(0x03); // empty final block with fixed codes
        out_.push_back(0x00);
        if (out_.size() > StoredSize(size))
            Store(data, size);
        return out_;
    }

private:
    static size_t StoredSize(uint32_t size) { return 2 + 5 + size; }

    // Data that deflate cannot shrink goes into one stored block, which keeps
    // the block within the format's limit. The deflate stream goes on as
    // before: the reader's history holds the same bytes either way.
    void Store(const uint8_t *data, uint32_t size)
    {
        out_.assign({ 'C', 'K', 0x01, 0, 0, 0, 0 });
        PutLE16(out_.data() + 3, static_cast<uint16_t>(size));
        PutLE16(out_.data() + 5, static_cast<uint16_t>(~size));
        out_.insert(out_.end(), data, data + size);
    }

    Method method_;
    z_stream stream_ {};
    bool ready_ = false;
    std::vector<uint8_t> out_;
};

// The header; the cabinet's size is patched in at the end.
std::vector<uint8_t> HeaderBytes(uint32_t folders, uint32_t files)
{
    std::vector<uint8_t> h(kHeaderSize, 0);
    std::memcpy(h.data(), "MSCF", 4);
    PutLE32(h.data() + 16, kHeaderSize + folders * kFolderEntrySize);
    h[24] = 3; // format version 1.3
    h[25] = 1;
    PutLE16(h.data() + 26, static_cast<uint16_t>(folders));
    PutLE16(h.data() + 28, static_cast<uint16_t>(files));
    return h;
}

class CabinetWriter
{
public:
    CabinetWriter(const std::vector<Entry> &entries, Method method, const Limits &limits, int fd)
        : entries_(entries)
        , method_(method)
        , limits_(limits)
        , out_(fd, limits.maxCabinetSize)
        , encoder_(method)
    { }

    Status Run(WriteResult &result)
    {
        std::vector<uint32_t> offsets;
        Status s = PlanFolders(entries_, limits_, folders_, offsets);
        if (s.ok())
            s = WriteTables(offsets);
        for (size_t i = 0; s.ok() && i < folders_.size(); ++i)
            s = WriteFolder(i);
        if (s.ok())
            s = out_.Flush();
        if (s.ok())
            s = PatchOffsets();
        result.cabinetBytes = out_.offset();
        result.folders = static_cast<uint32_t>(folders_.size());
        result.inputBytes = inputBytes_;
        return s;
    }

private:
    Status WriteTables(const std::vector<uint32_t> &offsets)
    {
        std::vector<uint8_t> h = HeaderBytes(static_cast<uint32_t>(folders_.size()),
                                             static_cast<uint32_t>(entries_.size()));
        Status s = out_.Write(h.data(), h.size());
        uint16_t type = method_ == Method::Mszip ? kCompressMszip : kCompressNone;
        for (const FolderPlan &f : folders_) {
            folderTable_.push_back(out_.offset());
            uint8_t e[kFolderEntrySize] = {};
            PutLE16(e + 4, static_cast<uint16_t>(f.blocks));
            PutLE16(e + 6, type);
            if (s.ok())
                s = out_.Write(e, sizeof e);
        }
        for (size_t fi = 0; s.ok() && fi < folders_.size(); ++fi) {
            for (size_t i = folders_[fi].firstEntry; s.ok() && i < folders_[fi].endEntry; ++i)
                s = WriteFileEntry(entries_[i], offsets[i], static_cast<uint16_t>(fi));
        }
        return s;
    }

    Status WriteFileEntry(const Entry &e, uint32_t offset, uint16_t folder)
    {
        uint8_t f[kFileEntryFixedSize];
        PutLE32(f, static_cast<uint32_t>(e.size));
        PutLE32(f + 4, offset);
        PutLE16(f + 8, folder);
        PutLE16(f + 10, e.stamp.date);
        PutLE16(f + 12, e.stamp.time);
        PutLE16(f + 14, e.attributes);
        Status s = out_.Write(f, sizeof f);
        if (s.ok())
            s = out_.Write(reinterpret_cast<const uint8_t *>(e.storedName.c_str()),
                           e.storedName.size() + 1);
        return s;
    }

    Status WriteFolder(size_t index)
    {
        const FolderPlan &f = folders_[index];
        dataStart_.push_back(out_.offset());
        Status s = encoder_.StartFolder();
        filled_ = 0;
        for (size_t i = f.firstEntry; s.ok() && i < f.endEntry; ++i)
            s = CopyFile(entries_[i]);
        if (s.ok() && filled_ > 0)
            s = WriteBlock();
        return s;
    }

    Status CopyFile(const Entry &e)
    {
        int fd = ::open(e.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return Fail(CAB32_E_READ,
                        "ファイルを読めません: " + e.displayName + ": " + ErrnoText(errno));
        Status s;
        uint64_t left = e.size;
        while (s.ok() && left > 0) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(left, kBlockSize - filled_));
            ssize_t n = ::read(fd, block_ + filled_, want);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                s = Fail(CAB32_E_READ,
                         "ファイルを読めません: " + e.displayName + ": " + ErrnoText(errno));
            else if (n == 0)
                s = Fail(CAB32_E_READ, "圧縮中にファイルが短くなりました: " + e.displayName);
            else {
                filled_ += static_cast<uint32_t>(n);
                left -= static_cast<uint64_t>(n);
                inputBytes_ += static_cast<uint64_t>(n);
                if (filled_ == kBlockSize)
                    s = WriteBlock();
            }
        }
        ::close(fd);
        return s;
    }

    Status WriteBlock()
    {
        const std::vector<uint8_t> &data = encoder_.Encode(block_, filled_);
        uint8_t h[kDataHeaderSize];
        auto compressed = static_cast<uint16_t>(data.size());
        auto uncompressed = static_cast<uint16_t>(filled_);
        PutLE32(h, DataBlockChecksum(data.data(), compressed, uncompressed));
        PutLE16(h + 4, compressed);
        PutLE16(h + 6, uncompressed);
        filled_ = 0;
        Status s = out_.Write(h, sizeof h);
        return s.ok() ? out_.Write(data.data(), data.size()) : s;
    }

    Status PatchOffsets()
    {
        uint8_t size[4];
        PutLE32(size, static_cast<uint32_t>(out_.offset()));
        Status s = out_.Patch(8, size, sizeof size);
        for (size_t i = 0; s.ok() && i < folders_.size(); ++i) {
            uint8_t start[4];
            PutLE32(start, static_cast<uint32_t>(dataStart_[i]));
            s = out_.Patch(folderTable_[i], start, sizeof start);
        }
        return s;
    }

    const std::vector<Entry> &entries_;
    Method method_;
    Limits limits_;
    Output out_;
    BlockEncoder encoder_;
    std::vector<FolderPlan> folders_;
    std::vector<uint64_t> folderTable_;
    std::vector<uint64_t> dataStart_;
    uint8_t block_[kBlockSize];
    uint32_t filled_ = 0;
    uint64_t inputBytes_ = 0;
};

} // namespace

Status WriteCabinet(const std::vector<Entry> &entries, Method method, const Limits &limits, int fd,
                    WriteResult &result)
{
    auto writer = std::make_unique<CabinetWriter>(entries, method, limits, fd);
    return writer->Run(result);
}

} // namespace kestlin::cab32
