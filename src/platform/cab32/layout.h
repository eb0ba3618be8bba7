#pragma once
// What libmspack neither checks nor tells about a cabinet: how much data the
// blocks of each folder declare, whether the folders use a method with valid
// parameters, and whether the files' ranges stay apart inside their folders.
// A small cabinet whose files all point at the same large range would
// otherwise be decompressed and written once for every file.
#include "status.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestlin::cab32 {

struct FolderData
{
    uint16_t compression = 0; // the folder's method field, parameters included
    uint64_t bytes = 0; // uncompressed bytes its data blocks declare
};

// Reads the folder table of the cabinet at the start of fd and walks the
// headers (not the data) of every folder's blocks.
Status ReadFolderData(int fd, std::vector<FolderData> &folders);

// A method that can be decoded: none, MSZIP, Quantum with a window of 2^10 to
// 2^21 bytes or LZX with one of 2^15 to 2^21 bytes.
Status CheckCompression(uint16_t compression);

struct FileRange
{
    size_t folder = 0; // index into the folders
    uint64_t offset = 0; // uncompressed, within the folder
    uint64_t length = 0;
    std::string name; // UTF-8, for messages
};

// Every range lies within the data of its folder and shares no byte with
// another, so that extracting every file writes at most what the folders hold.
Status CheckRanges(std::vector<FileRange> ranges, const std::vector<FolderData> &folders);

} // namespace kestlin::cab32
