#include "mail/OAuthTokenStore.h"

#include "common/atomicfile.h"
#include "common/syserror.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <openssl/crypto.h>
#include <sstream>
#include <sys/stat.h>

namespace kestlin {

namespace {

using Json = nlohmann::json;

constexpr const char *kTokenFileName = "oauth-token.json";

std::string Field(const Json &object, const char *name)
{
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

std::string TokenStorePath(const std::string &iniPath)
{
    return (std::filesystem::path(iniPath).parent_path() / kTokenFileName).string();
}

bool LoadGrant(const std::string &path, StoredGrant &grant, std::string &reason)
{
    grant = {};
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        reason = errno == ENOENT
                     ? "OAuth 2.0 の認可がまだありません（" + path + "）。"
                     : "認可の記録「" + path + "」を読めません: " + SystemErrorText(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string bytes = text.str();
    const Json object = Json::parse(bytes, nullptr, false);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    if (object.is_object()) {
        grant.tokenUrl = Field(object, "token_url");
        grant.clientId = Field(object, "client_id");
        grant.refreshToken = Field(object, "refresh_token");
    }
    if (grant.refreshToken.empty()) {
        reason = "認可の記録「" + path + "」が壊れています。";
        return false;
    }
    // Only its owner may read it, whatever made it readable to others.
    ::chmod(path.c_str(), 0600);
    return true;
}

bool SaveGrant(const std::string &path, const StoredGrant &grant, std::string &reason)
{
    std::string bytes = Json {
        { "token_url", grant.tokenUrl },
        { "client_id", grant.clientId },
        { "refresh_token", grant.refreshToken }
    }.dump(1) + "\n";
    // A replaced file keeps its mode: make sure that mode is the owner's only.
    ::chmod(path.c_str(), 0600);
    int error = 0;
    const bool ok = ReplaceFileAtomically(path, bytes, error, 0600);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    if (!ok)
        reason = "認可の記録「" + path + "」を書き込めません: " + SystemErrorText(error);
    return ok;
}

} // namespace kestlin
