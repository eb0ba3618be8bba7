#pragma once
// Writes a cabinet in one pass over the input files, with memory that does not
// depend on their size (a batch of at most 2 MiB of input at a time): the tables are laid out from
// the file sizes alone, the data follows block by block, and the few offsets known only at the end
// are patched in afterwards.
#include "cabformat.h"
#include "status.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestlin::cab32 {

enum class Method { None, Mszip };

// What one cabinet may hold. The defaults are the format's; tests lower them
// to reach the limits with small inputs.
struct Limits
{
    uint32_t maxBlocksPerFolder = kMaxBlocksPerFolder;
    uint32_t maxFiles = kMaxFiles;
    uint64_t maxCabinetSize = 0xFFFFFFFFu;
    // Threads compressing side by side; 0: one per processor, at most 4.
    unsigned workers = 0;
};

struct Entry
{
    std::string path; // where to read the file
    std::string displayName; // UTF-8 name below the packed folder, for messages
    std::string storedName; // the name's bytes in the archive
    uint16_t attributes = 0;
    uint64_t size = 0;
    DosStamp stamp;
};

struct WriteResult
{
    uint64_t inputBytes = 0;
    uint64_t cabinetBytes = 0;
    uint32_t folders = 0;
};

// Writes the cabinet of entries to fd (a new, empty file).
Status WriteCabinet(const std::vector<Entry> &entries, Method method, const Limits &limits, int fd,
                    WriteResult &result);

} // namespace kestlin::cab32
