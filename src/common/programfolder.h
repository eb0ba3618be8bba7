#pragma once
#include <string>

namespace kestlin {

// The folder of the running executable, without a trailing "/" (except for
// the root folder itself). Empty when the system cannot tell.
std::string ProgramFolder();

} // namespace kestlin
