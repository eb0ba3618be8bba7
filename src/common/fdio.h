#pragma once
// Whole reads and writes on a file descriptor: the system may move fewer bytes
// than asked or be interrupted, and a short write is a lost write unless it is
// continued. On failure errno tells why.
#include <cstddef>

namespace kestlin {

// Writes every byte, or returns false.
bool WriteAll(int fd, const void *data, std::size_t size);

// Fills the buffer unless the file ends first (got < size then), or returns false.
bool ReadUpTo(int fd, void *buffer, std::size_t size, std::size_t &got);

} // namespace kestlin
