#include "mail/OAuthHttp.h"

#include <curl/curl.h>
#include <memory>
#include <openssl/crypto.h>

namespace kestlin {

namespace {

// No token answer is this large; a larger one is not read to its end.
constexpr std::size_t kMaxReply = 1 << 20;
constexpr long kConnectSeconds = 30;
constexpr long kTotalSeconds = 60;

struct UrlParts
{
    std::string scheme, host;
};

bool SplitUrl(const std::string &url, UrlParts &parts)
{
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), curl_url_cleanup);
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return false;
    char *scheme = nullptr, *host = nullptr;
    const bool ok = curl_url_get(handle.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK
                    && curl_url_get(handle.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK;
    if (ok) {
        parts.scheme = scheme;
        parts.host = host;
    }
    curl_free(scheme);
    curl_free(host);
    return ok;
}

bool IsLoopback(const std::string &host)
{
    return host == "127.0.0.1" || host == "[::1]";
}

size_t Collect(char *data, size_t size, size_t count, void *target)
{
    auto *body = static_cast<std::string *>(target);
    const size_t bytes = size * count;
    if (body->size() + bytes > kMaxReply)
        return 0;
    body->append(data, bytes);
    return bytes;
}

std::string FormBody(const FormFields &fields)
{
    std::string body;
    for (const auto &[name, value] : fields) {
        if (!body.empty())
            body += '&';
        body += UrlEncoded(name) + '=' + UrlEncoded(value);
    }
    return body;
}

} // namespace

std::string UrlEncoded(const std::string &value)
{
    char *escaped = curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size()));
    if (!escaped)
        return {};
    std::string text(escaped);
    curl_free(escaped);
    return text;
}

std::string OAuthUrlRefusal(const std::string &url)
{
    UrlParts parts;
    if (url.empty())
        return "認可サーバーのURLが設定されていません。";
    if (!SplitUrl(url, parts))
        return "認可サーバーのURL「" + url + "」を解釈できません。";
    if (parts.scheme == "https" || (parts.scheme == "http" && IsLoopback(parts.host)))
        return {};
    return "認可サーバーのURL「" + url
           + "」は使えません。https のURLを指定してください（http はこのコンピューター上"
             "（127.0.0.1、::1）のサーバーにだけ使えます）。";
}

bool PostForm(const std::string &url, const FormFields &fields, HttpReply &reply,
              std::string &reason)
{
    reply = {};
    if (reason = OAuthUrlRefusal(url); !reason.empty())
        return false;
    UrlParts parts;
    SplitUrl(url, parts);
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        reason = "通信の準備ができません（libcurl）。";
        return false;
    }
    std::string body = FormBody(fields);
    char error[CURL_ERROR_SIZE] = {};
    curl_slist *headers = curl_slist_append(nullptr, "Accept: application/json");
    CURL *c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, parts.scheme == "https" ? "https" : "http");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    // A provider on this machine is reached directly, never through a proxy.
    if (IsLoopback(parts.host))
        curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, kTotalSeconds);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    const CURLcode rc = curl_easy_perform(c);
    curl_slist_free_all(headers);
    // The request carried a refresh token or a code: leave no copy behind.
    OPENSSL_cleanse(body.data(), body.size());
    if (rc != CURLE_OK) {
        reason = "認可サーバー（" + parts.host + "）と通信できません: "
                 + (error[0] ? std::string(error) : curl_easy_strerror(rc));
        return false;
    }
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply.status);
    return true;
}

} // namespace kestlin
