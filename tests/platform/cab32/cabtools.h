#pragma once
// Helpers of the cabinet tests: running the real archivers, building and
// comparing folder trees.
#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace kestlin::test {

struct CommandResult
{
    int status = -1; // exit status, -1 when it did not exit normally
    std::string output; // standard output and error together
};

// Runs a shell command.
CommandResult RunShell(const std::string &command);

// The 7-Zip command: "7zz" (Debian's 7zip), else "7z" (p7zip-full).
std::string SevenZip();

// The text in single quotes for the shell.
std::string ShellQuoted(const std::string &text);

// Relative path ("/" between folders) to content, for every regular file below
// folder; folders themselves are left out.
using Tree = std::map<std::string, std::string>;
Tree ReadTree(const std::string &folder);

// Equal trees; otherwise the names that differ (contents are too long to show).
::testing::AssertionResult SameTree(const Tree &actual, const Tree &expected);

// Creates the files of tree below folder, with the folders they need.
void WriteTree(const std::string &folder, const Tree &tree);

// Bytes that deflate cannot shrink (a fixed pseudo-random sequence).
std::string NoiseBytes(size_t size, unsigned seed = 1);

// Japanese CSV-like text, as reports hold.
std::string ReportText(size_t size);

// A tree with subfolders, names that need CP932 bytes whose second byte is
// "\" (表, ソ, 能), a name with no CP932 form, an empty file and a file of a
// few MiB that spans many blocks.
Tree SampleTree();

// The layout of a cabinet as stored, read without any cabinet library.
struct RawBlock
{
    uint32_t checksum = 0;
    uint16_t compressed = 0;
    uint16_t uncompressed = 0;
};

struct RawFolder
{
    uint16_t compression = 0;
    std::vector<RawBlock> blocks;
};

struct RawFile
{
    std::string name; // bytes as stored
    uint32_t size = 0;
    uint16_t folder = 0;
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attributes = 0;
};

struct RawCabinet
{
    uint32_t declaredSize = 0;
    std::vector<RawFolder> folders;
    std::vector<RawFile> files;
};

// Fails the test when the bytes are not laid out as a cabinet.
RawCabinet ParseCabinet(const std::string &bytes);

} // namespace kestlin::test
