#include "mail/OAuthClient.h"

#include "mail/OAuthHttp.h"

#include <nlohmann/json.hpp>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <vector>

namespace kestlin {

namespace {

using Json = nlohmann::json;

constexpr const char *kDeviceGrant = "urn:ietf:params:oauth:grant-type:device_code";
constexpr long kSlowDownSeconds = 5;
// How long a device code lives when the server does not say.
constexpr long kDefaultDeviceSeconds = 900;

std::string Base64Url(const unsigned char *data, std::size_t size)
{
    std::vector<unsigned char> out(4 * ((size + 2) / 3) + 1);
    const int length = EVP_EncodeBlock(out.data(), data, static_cast<int>(size));
    std::string text(reinterpret_cast<const char *>(out.data()), static_cast<std::size_t>(length));
    for (char &c : text) {
        if (c == '+')
            c = '-';
        else if (c == '/')
            c = '_';
    }
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    return text;
}

std::string Text(const Json &object, const char *name)
{
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

long Number(const Json &object, const char *name, long fallback)
{
    const auto it = object.find(name);
    if (it != object.end() && it->is_number_integer())
        return it->get<long>();
    // Some servers send numbers as text.
    if (it != object.end() && it->is_string()) {
        try {
            return std::stol(it->get<std::string>());
        } catch (const std::exception &) { }
    }
    return fallback;
}

// The answer as a JSON object; false with a reason when it is none.
bool ParseAnswer(const HttpReply &reply, Json &object, std::string &reason)
{
    object = Json::parse(reply.body, nullptr, false);
    if (!object.is_object()) {
        reason = "認可サーバーの応答を読めません（HTTP " + std::to_string(reply.status) + "）。";
        return false;
    }
    return true;
}

std::string RefusalText(const OAuthRefusal &refusal, long status)
{
    std::string text = "認可サーバーが要求を断りました（HTTP " + std::to_string(status) + "）: ";
    text += refusal.error.empty() ? "理由は示されていません。" : refusal.error;
    if (!refusal.description.empty())
        text += "\n" + refusal.description;
    return text;
}

// A reply that is no success, or that names an error: its refusal and text.
bool Refused(const HttpReply &reply, const Json &answer, OAuthRefusal &refusal, std::string &reason)
{
    if (reply.status == 200 && !answer.contains("error"))
        return false;
    refusal = { Text(answer, "error"), Text(answer, "error_description") };
    reason = RefusalText(refusal, reply.status);
    return true;
}

} // namespace

std::string RandomUrlSafe(std::size_t bytes)
{
    std::vector<unsigned char> random(bytes);
    if (RAND_bytes(random.data(), static_cast<int>(bytes)) != 1)
        return {};
    return Base64Url(random.data(), random.size());
}

std::string PkceChallenge(const std::string &verifier)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        return {};
    return Base64Url(digest, length);
}

bool OAuthClient::TokenRequest(FormFields fields, OAuthTokens &tokens, std::string &reason)
{
    refusal_ = {};
    tokens = {};
    fields.emplace_back("client_id", endpoints_.clientId);
    if (!endpoints_.clientSecret.empty())
        fields.emplace_back("client_secret", endpoints_.clientSecret);
    HttpReply reply;
    const bool posted = PostForm(endpoints_.tokenUrl, fields, reply, reason);
    for (auto &field : fields)
        OPENSSL_cleanse(field.second.data(), field.second.size());
    Json answer;
    if (!posted || !ParseAnswer(reply, answer, reason))
        return false;
    if (Refused(reply, answer, refusal_, reason))
        return false;
    tokens.accessToken = Text(answer, "access_token");
    tokens.refreshToken = Text(answer, "refresh_token");
    tokens.expiresIn = Number(answer, "expires_in", 0);
    OPENSSL_cleanse(reply.body.data(), reply.body.size());
    if (tokens.accessToken.empty()) {
        reason = "認可サーバーの応答にアクセストークンがありません。";
        return false;
    }
    return true;
}

bool OAuthClient::StartDevice(DeviceAuthorization &device, std::string &reason)
{
    device = {};
    if (endpoints_.deviceUrl.empty()) {
        reason = "この認可サーバーではコードによる認可を使えません。";
        return false;
    }
    FormFields fields { { "client_id", endpoints_.clientId }, { "scope", endpoints_.scope } };
    if (!endpoints_.clientSecret.empty())
        fields.emplace_back("client_secret", endpoints_.clientSecret);
    HttpReply reply;
    Json answer;
    if (!PostForm(endpoints_.deviceUrl, fields, reply, reason)
        || !ParseAnswer(reply, answer, reason))
        return false;
    if (Refused(reply, answer, refusal_, reason))
        return false;
    device.deviceCode = Text(answer, "device_code");
    device.userCode = Text(answer, "user_code");
    device.verificationUri = Text(answer, "verification_uri");
    // Some providers still use the name of an early draft.
    if (device.verificationUri.empty())
        device.verificationUri = Text(answer, "verification_url");
    device.verificationUriComplete = Text(answer, "verification_uri_complete");
    device.expiresIn = Number(answer, "expires_in", kDefaultDeviceSeconds);
    device.interval = std::max(1L, Number(answer, "interval", 5));
    if (device.deviceCode.empty() || device.userCode.empty() || device.verificationUri.empty()) {
        reason = "認可サーバーの応答にコードか確認用のURLがありません。";
        return false;
    }
    return true;
}

bool OAuthClient::PollDevice(const DeviceAuthorization &device, OAuthTokens &tokens,
                             std::string &reason,
                             const std::function<bool(std::chrono::seconds)> &wait)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(device.expiresIn);
    long interval = device.interval;
    while (true) {
        if (!wait(std::chrono::seconds(interval))) {
            reason = "認可を中止しました。";
            return false;
        }
        if (Clock::now() > deadline) {
            reason = "コードの有効期限が切れました。もう一度認可をやり直してください。";
            return false;
        }
        if (TokenRequest({ { "grant_type", kDeviceGrant }, { "device_code", device.deviceCode } },
                         tokens, reason))
            break;
        const std::string &error = refusal_.error;
        if (error == "authorization_pending")
            continue;
        if (error == "slow_down") {
            interval += kSlowDownSeconds;
            continue;
        }
        if (error == "expired_token")
            reason = "コードの有効期限が切れました。もう一度認可をやり直してください。\n" + reason;
        else if (error == "access_denied")
            reason = "認可が拒否されました。\n" + reason;
        return false;
    }
    if (tokens.refreshToken.empty()) {
        reason = "認可サーバーがリフレッシュトークンを返しませんでした（スコープに"
                 " offline_access などが必要です）。";
        return false;
    }
    return true;
}

std::string OAuthClient::AuthorizationUrl(const std::string &redirectUri,
                                          const std::string &verifier,
                                          const std::string &state) const
{
    std::string url = endpoints_.authUrl;
    url += url.find('?') == std::string::npos ? '?' : '&';
    url += "response_type=code&client_id=" + UrlEncoded(endpoints_.clientId)
           + "&redirect_uri=" + UrlEncoded(redirectUri) + "&scope=" + UrlEncoded(endpoints_.scope)
           + "&state=" + UrlEncoded(state) + "&code_challenge=" + PkceChallenge(verifier)
           + "&code_challenge_method=S256";
    if (endpoints_.askOffline)
        url += "&access_type=offline&prompt=consent";
    return url;
}

bool OAuthClient::ExchangeCode(const std::string &code, const std::string &redirectUri,
                               const std::string &verifier, OAuthTokens &tokens,
                               std::string &reason)
{
    if (!TokenRequest({ { "grant_type", "authorization_code" },
                        { "code", code },
                        { "redirect_uri", redirectUri },
                        { "code_verifier", verifier } },
                      tokens, reason))
        return false;
    if (tokens.refreshToken.empty()) {
        reason = "認可サーバーがリフレッシュトークンを返しませんでした。";
        return false;
    }
    return true;
}

bool OAuthClient::Refresh(const std::string &refreshToken, OAuthTokens &tokens, std::string &reason)
{
    return TokenRequest({ { "grant_type", "refresh_token" },
                          { "refresh_token", refreshToken },
                          { "scope", endpoints_.scope } },
                        tokens, reason);
}

} // namespace kestlin
