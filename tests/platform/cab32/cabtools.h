#pragma once
// Helpers of the cabinet tests: running the real archivers, building and
// comparing folder trees.
#include <map>
#include <string>

namespace kestlin::test {

struct CommandResult
{
    int status = -1; // exit status, -1 when it did not exit normally
    std::string output; // standard output and error together
};

// Runs a shell command.
CommandResult RunShell(const std::string &command);

// The text in single quotes for the shell.
std::string ShellQuoted(const std::string &text);

// Relative path ("/" between folders) to content, for every regular file below
// folder; folders themselves are left out.
using Tree = std::map<std::string, std::string>;
Tree ReadTree(const std::string &folder);

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

} // namespace kestlin::test
