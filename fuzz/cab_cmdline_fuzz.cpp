// The command line of libcab32: whatever the text, the parser gives a result
// code with a text or a command with an archive and a folder, and that command
// written out again, every argument in quotes, reads back the same.
#include "FuzzCheck.h"
#include "cab32.h"
#include "cmdline.h"

#include <cstdint>
#include <string>

using namespace kestlin::cab32;

namespace {

std::string Written(const Command &c)
{
    using C = Command::Compression;
    std::string line = c.action == Command::Action::Extract ? "-x" : "-a";
    line += c.recursive ? " -r" : "";
    line += c.overwrite ? " -o" : "";
    line += c.silent ? " -i" : "";
    const std::string level = std::to_string(c.compressionLevel);
    line += c.compression == C::Mszip  ? " -mz"
            : c.compression == C::None ? " -ms"
            : c.compression == C::Lzx  ? " -ml" + level
                                       : " -mq" + level;
    for (const std::string &argument : c.arguments)
        line += " \"" + argument + "\"";
    return line;
}

bool Same(const Command &a, const Command &b)
{
    using C = Command::Compression;
    const bool levelled = a.compression == C::Lzx || a.compression == C::Quantum;
    return a.action == b.action && a.compression == b.compression
           && (!levelled || a.compressionLevel == b.compressionLevel) && a.recursive == b.recursive
           && a.overwrite == b.overwrite && a.silent == b.silent && a.arguments == b.arguments;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The line arrives as a C string: a NUL ends it.
    const std::string text(reinterpret_cast<const char *>(data), size);
    Command command;
    const Status s = ParseCommandLine(text.c_str(), command);
    if (!s.ok()) {
        FUZZ_CHECK(s.code == CAB32_E_CMDLINE || s.code == CAB32_E_SWITCH);
        FUZZ_CHECK(!s.text.empty());
        return 0;
    }
    FUZZ_CHECK(command.arguments.size() >= 2);
    if (command.compression == Command::Compression::Lzx)
        FUZZ_CHECK(command.compressionLevel >= 15 && command.compressionLevel <= 21);
    if (command.compression == Command::Compression::Quantum)
        FUZZ_CHECK(command.compressionLevel >= 1 && command.compressionLevel <= 7);
    Command again;
    FUZZ_CHECK(ParseCommandLine(Written(command).c_str(), again).ok());
    FUZZ_CHECK(Same(command, again));
    return 0;
}
