#pragma once
// Reading cabinets, with libmspack.
#include "status.h"

#include <cstdint>
#include <string>

namespace kestlin::cab32 {

// True when path is a regular file holding a cabinet that passes the check of
// mode (CAB32_CHECK_HEADERS or CAB32_CHECK_FULL).
bool IsValidCabinet(const std::string &path, int32_t mode);

} // namespace kestlin::cab32
