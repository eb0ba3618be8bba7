#pragma once
// The command line of Cab: switches and (quoted) arguments.
#include "status.h"

#include <string>
#include <vector>

namespace kestlin::cab32 {

struct Command
{
    enum class Action { Add, Extract };
    enum class Compression { Mszip, None, Lzx, Quantum };

    Action action = Action::Add;
    Compression compression = Compression::Mszip;
    int compressionLevel = 0;
    bool recursive = false;
    bool overwrite = false;
    bool silent = false;
    std::vector<std::string> arguments;
};

Status ParseCommandLine(const char *text, Command &command);

} // namespace kestlin::cab32
