#pragma once
// The two actions of a command line.
#include "cabwriter.h"
#include "cmdline.h"
#include "status.h"

#include <string>

namespace kestlin::cab32 {

// Packs the files named by the command into a new archive. summary receives
// a line about what was written.
Status Pack(const Command &command, const Limits &limits, std::string &summary);

// Extracts the archive of the command into its destination folder.
Status Extract(const Command &command, std::string &summary);

// Parses and runs one command line.
Status RunCommandLine(const char *line, const Limits &limits, std::string &summary);

} // namespace kestlin::cab32
