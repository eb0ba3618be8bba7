#include "cabwriter.h"

#include "cab32.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace kestlin::cab32 {
namespace {

// Blocks that one worker compresses as one deflate stream: large enough that
// priming each stream with its history costs little.
constexpr size_t kSegmentBytes = 16 * size_t(kBlockSize);

unsigned WorkerCount(unsigned wanted)
{
    if (wanted == 0)
        wanted = std::thread::hardware_concurrency();
    return std::clamp(wanted, 1u, 4u);
}

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

struct EncodedBlock
{
    std::vector<uint8_t> bytes;
    uint16_t uncompressed = 0;
};

// Turns a stretch of a folder's input into data blocks. MSZIP blocks come
// from one deflate stream per stretch, cut with a sync flush after every
// 32 KiB and closed with an empty final block: each block is a complete
// deflate stream as the format wants, and matches reach back into the
// previous block, which the format keeps as history. The stream starts with
// the 32 KiB before the stretch as its dictionary, so stretches can be
// compressed side by side and still give the ratio of one continuous stream.
class SegmentEncoder
{
public:
    explicit SegmentEncoder(Method method)
        : method_(method)
    { }
    ~SegmentEncoder()
    {
        if (ready_)
            ::deflateEnd(&stream_);
    }
    SegmentEncoder(const SegmentEncoder &) = delete;
    SegmentEncoder &operator=(const SegmentEncoder &) = delete;

    // Encodes data into blocks[0..count); false when zlib has no memory.
    bool Encode(const uint8_t *history, size_t historySize, const uint8_t *data, size_t size)
    {
        count_ = 0;
        if (method_ == Method::Mszip && !Start(history, historySize))
            return false;
        for (size_t done = 0; done < size; done += kBlockSize) {
            auto n = static_cast<uint32_t>(std::min<size_t>(kBlockSize, size - done));
            if (blocks_.size() <= count_)
                blocks_.emplace_back();
            EncodedBlock &block = blocks_[count_++];
            block.uncompressed = static_cast<uint16_t>(n);
            if (method_ == Method::None)
                block.bytes.assign(data + done, data + done + n);
            else
                Compress(data + done, n, block.bytes);
        }
        return true;
    }

    size_t count() const { return count_; }
    const EncodedBlock &block(size_t i) const { return blocks_[i]; }

private:
    bool Start(const uint8_t *history, size_t historySize)
    {
        int rc = ready_ ? ::deflateReset(&stream_)
                        : ::deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8,
                                         Z_DEFAULT_STRATEGY);
        ready_ = ready_ || rc == Z_OK;
        if (rc == Z_OK && historySize > 0)
            rc = ::deflateSetDictionary(&stream_, history, static_cast<uInt>(historySize));
        return rc == Z_OK;
    }

    void Compress(const uint8_t *data, uint32_t size, std::vector<uint8_t> &out)
    {
        out = { 'C', 'K' };
        out.resize(2 + kBlockSize);
        stream_.next_out = out.data() + 2;
        stream_.avail_out = kBlockSize;
        // Random-looking data still passes through the stream, so that its
        // window matches the reader's history, but at level 0, which only
        // copies. Between blocks nothing is pending: the change emits nothing.
        int level = LooksIncompressible(data, size) ? 0 : Z_DEFAULT_COMPRESSION;
        if (level != level_ && ::deflateParams(&stream_, level, Z_DEFAULT_STRATEGY) == Z_OK)
            level_ = level;
        out.resize(2 + kBlockSize - stream_.avail_out);
        stream_.next_in = const_cast<uint8_t *>(data);
        stream_.avail_in = size;
        do {
            size_t used = out.size();
            out.resize(used + kBlockSize);
            stream_.next_out = out.data() + used;
            stream_.avail_out = kBlockSize;
            ::deflate(&stream_, Z_SYNC_FLUSH);
            out.resize(out.size() - stream_.avail_out);
        } while (stream_.avail_out == 0);
        out.push_back(0x03); // empty final block with fixed codes
        out.push_back(0x00);
        if (out.size() > StoredSize(size))
            Store(data, size, out);
    }

    static size_t StoredSize(uint32_t size) { return 2 + 5 + size; }

    // Byte frequencies of random or already compressed data are nearly flat:
    // an order-0 entropy near 8 bits per byte.
    static bool LooksIncompressible(const uint8_t *data, uint32_t size)
    {
        if (size < 4096)
            return false;
        uint32_t counts[256] = {};
        for (uint32_t i = 0; i < size; ++i)
            ++counts[data[i]];
        double bits = 0;
        for (uint32_t c : counts) {
            if (c > 0) {
                double p = static_cast<double>(c) / size;
                bits -= p * std::log2(p);
            }
        }
        return bits > 7.95;
    }

    // Data that deflate cannot shrink goes into one stored block, which keeps
    // the block within the format's limit. The deflate stream goes on as
    // before: the reader's history holds the same bytes either way.
    static void Store(const uint8_t *data, uint32_t size, std::vector<uint8_t> &out)
    {
        out.assign({ 'C', 'K', 0x01, 0, 0, 0, 0 });
        PutLE16(out.data() + 3, static_cast<uint16_t>(size));
        PutLE16(out.data() + 5, static_cast<uint16_t>(~size));
        out.insert(out.end(), data, data + size);
    }

    Method method_;
    z_stream stream_ {};
    bool ready_ = false;
    int level_ = Z_DEFAULT_COMPRESSION;
    std::vector<EncodedBlock> blocks_;
    size_t count_ = 0;
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
        , workers_(WorkerCount(limits.workers))
        , batch_(kBlockSize + workers_ * kSegmentBytes)
    {
        for (unsigned i = 0; i < workers_; ++i)
            encoders_.push_back(std::make_unique<SegmentEncoder>(method));
    }

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
        historySize_ = 0; // every folder starts without history
        filled_ = 0;
        Status s;
        for (size_t i = f.firstEntry; s.ok() && i < f.endEntry; ++i)
            s = CopyFile(entries_[i]);
        if (s.ok() && filled_ > 0)
            s = WriteBatch();
        return s;
    }

    uint8_t *Data() { return batch_.data() + kBlockSize; }

    Status CopyFile(const Entry &e)
    {
        int fd = ::open(e.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return Fail(CAB32_E_READ,
                        "ファイルを読めません: " + e.displayName + ": " + ErrnoText(errno));
        Status s;
        const size_t capacity = workers_ * kSegmentBytes;
        uint64_t left = e.size;
        while (s.ok() && left > 0) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(left, capacity - filled_));
            ssize_t n = ::read(fd, Data() + filled_, want);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                s = Fail(CAB32_E_READ,
                         "ファイルを読めません: " + e.displayName + ": " + ErrnoText(errno));
            else if (n == 0)
                s = Fail(CAB32_E_READ, "圧縮中にファイルが短くなりました: " + e.displayName);
            else {
                filled_ += static_cast<size_t>(n);
                left -= static_cast<uint64_t>(n);
                inputBytes_ += static_cast<uint64_t>(n);
                if (filled_ == capacity)
                    s = WriteBatch();
            }
        }
        ::close(fd);
        return s;
    }

    // Compresses the batch, one segment per worker, and writes its blocks in
    // order. The segments' borders depend only on the input, so the archive
    // is the same whatever the number of workers.
    Status WriteBatch()
    {
        const size_t segments = (filled_ + kSegmentBytes - 1) / kSegmentBytes;
        std::vector<uint8_t> ok(segments, 1); // not vector<bool>: written from several threads
        auto encode = [&](size_t i) {
            const uint8_t *data = Data() + i * kSegmentBytes;
            size_t history = i > 0 ? kBlockSize : historySize_;
            ok[i] = encoders_[i]->Encode(data - history, history, data,
                                         std::min(kSegmentBytes, filled_ - i * kSegmentBytes));
        };
        std::vector<std::thread> threads;
        for (size_t i = 1; i < segments; ++i) {
            try {
                threads.emplace_back(encode, i);
            } catch (const std::system_error &) {
                encode(i); // no thread to be had: do it here
            }
        }
        encode(0);
        for (std::thread &t : threads)
            t.join();
        Status s;
        for (size_t i = 0; s.ok() && i < segments; ++i) {
            if (!ok[i])
                return Fail(CAB32_E_MEMORY, "圧縮のためのメモリが足りません");
            for (size_t b = 0; s.ok() && b < encoders_[i]->count(); ++b)
                s = WriteBlock(encoders_[i]->block(b));
        }
        // The last 32 KiB become the history of the next batch.
        if (filled_ >= kBlockSize) {
            std::memmove(batch_.data(), Data() + filled_ - kBlockSize, kBlockSize);
            historySize_ = kBlockSize;
        }
        filled_ = 0;
        return s;
    }

    Status WriteBlock(const EncodedBlock &block)
    {
        uint8_t h[kDataHeaderSize];
        auto compressed = static_cast<uint16_t>(block.bytes.size());
        PutLE32(h, DataBlockChecksum(block.bytes.data(), compressed, block.uncompressed));
        PutLE16(h + 4, compressed);
        PutLE16(h + 6, block.uncompressed);
        Status s = out_.Write(h, sizeof h);
        return s.ok() ? out_.Write(block.bytes.data(), block.bytes.size()) : s;
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
    unsigned workers_;
    std::vector<std::unique_ptr<SegmentEncoder>> encoders_;
    std::vector<FolderPlan> folders_;
    std::vector<uint64_t> folderTable_;
    std::vector<uint64_t> dataStart_;
    std::vector<uint8_t> batch_; // 32 KiB of history, then the batch's input
    size_t historySize_ = 0;
    size_t filled_ = 0;
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
