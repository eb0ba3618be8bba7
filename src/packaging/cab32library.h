#pragma once
// The file name under which clsCab32 finds the cabinet library ("CAB32.DLL").
#include <string>

namespace kestlin {

// "libcab32.so" unless a test has pointed it at another library.
std::string &Cab32LibraryName();

} // namespace kestlin
