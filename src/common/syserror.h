#pragma once
// The system's own description of a failure, in the user's language where the
// system has a translation (the program sets its locale from the environment).
#include <string>
#include <system_error>

namespace kestlin {

std::string SystemErrorText(int errnum);
std::string SystemErrorText(const std::error_code &code);

} // namespace kestlin
