#pragma once
// The refresh token of a settings folder, in a file of its own beside the
// settings file: readable by its owner only, replaced whole, and tied to the
// client and token endpoint that issued it, so that a changed provider is
// noticed before a mailing rather than during one.
#include <string>

namespace kestlin {

struct StoredGrant
{
    std::string tokenUrl;
    std::string clientId;
    std::string refreshToken;
};

// The token file that belongs to the settings file at iniPath.
std::string TokenStorePath(const std::string &iniPath);

// False with a Japanese reason when there is no usable grant in the file.
bool LoadGrant(const std::string &path, StoredGrant &grant, std::string &reason);
bool SaveGrant(const std::string &path, const StoredGrant &grant, std::string &reason);

} // namespace kestlin
