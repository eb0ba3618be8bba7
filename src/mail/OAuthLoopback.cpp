#include "mail/OAuthLoopback.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <curl/curl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestlin {

namespace {

constexpr std::size_t kMaxRequest = 16 * 1024;
constexpr int kReadMs = 5000;

std::string Unescaped(std::string text)
{
    for (char &c : text) {
        if (c == '+')
            c = ' ';
    }
    int length = 0;
    char *plain = curl_easy_unescape(nullptr, text.c_str(), static_cast<int>(text.size()), &length);
    if (!plain)
        return {};
    std::string result(plain, static_cast<std::size_t>(length));
    curl_free(plain);
    return result;
}

std::map<std::string, std::string> QueryOf(const std::string &target)
{
    std::map<std::string, std::string> query;
    const auto mark = target.find('?');
    if (mark == std::string::npos)
        return query;
    std::string rest = target.substr(mark + 1);
    size_t at = 0;
    while (at <= rest.size()) {
        const size_t end = std::min(rest.find('&', at), rest.size());
        const std::string pair = rest.substr(at, end - at);
        const size_t eq = pair.find('=');
        if (eq != std::string::npos)
            query[Unescaped(pair.substr(0, eq))] = Unescaped(pair.substr(eq + 1));
        at = end + 1;
    }
    return query;
}

// The request line's target, read up to the end of the headers.
bool ReadTarget(int fd, std::string &target)
{
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequest) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, kReadMs) <= 0)
            return false;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        request.append(buffer, static_cast<size_t>(got));
    }
    const size_t first = request.find(' ');
    const size_t second = request.find(' ', first + 1);
    if (request.compare(0, 4, "GET ") != 0 || second == std::string::npos)
        return false;
    target = request.substr(first + 1, second - first - 1);
    return true;
}

void Answer(int fd, const char *status, const std::string &message)
{
    const std::string page = "<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\">"
                             "<title>Kestlin</title></head><body><p>"
                             + message + "</p></body></html>";
    const std::string reply = std::string("HTTP/1.1 ") + status
                              + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
                              + std::to_string(page.size())
                              + "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + page;
    size_t sent = 0;
    while (sent < reply.size()) {
        const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

} // namespace

OAuthLoopback::~OAuthLoopback()
{
    for (int fd : listeners_) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool OAuthLoopback::Open(std::string &reason)
{
    int &v4 = listeners_[0];
    v4 = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (v4 < 0 || ::bind(v4, reinterpret_cast<sockaddr *>(&address), size) != 0
        || ::listen(v4, 4) != 0
        || ::getsockname(v4, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        reason = "ブラウザからの戻り先（127.0.0.1）を開けません: " + std::string(strerror(errno));
        return false;
    }
    port_ = ntohs(address.sin_port);
    // ::1 at the same port is a help, not a need: without it the browser
    // falls back to 127.0.0.1.
    int &v6 = listeners_[1];
    v6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address6 {};
    address6.sin6_family = AF_INET6;
    address6.sin6_addr = in6addr_loopback;
    address6.sin6_port = htons(static_cast<uint16_t>(port_));
    const int on = 1;
    if (v6 >= 0
        && (::setsockopt(v6, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0
            || ::bind(v6, reinterpret_cast<sockaddr *>(&address6), sizeof address6) != 0
            || ::listen(v6, 4) != 0)) {
        ::close(v6);
        v6 = -1;
    }
    return true;
}

std::string OAuthLoopback::RedirectUri(const std::string &host) const
{
    return "http://" + host + ":" + std::to_string(port_) + "/";
}

OAuthLoopback::Wait OAuthLoopback::Poll(int timeoutMs, const std::string &state,
                                        std::string &reason)
{
    pollfd p[2] = { { listeners_[0], POLLIN, 0 }, { listeners_[1], POLLIN, 0 } };
    const nfds_t count = listeners_[1] >= 0 ? 2 : 1;
    if (::poll(p, count, timeoutMs) <= 0)
        return Wait::Pending;
    for (nfds_t i = 0; i < count; ++i) {
        if (!(p[i].revents & POLLIN))
            continue;
        const int connection = ::accept4(p[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        const Wait result = Serve(connection, state, reason);
        ::close(connection);
        if (result != Wait::Pending)
            return result;
    }
    return Wait::Pending;
}

OAuthLoopback::Wait OAuthLoopback::Serve(int connection, const std::string &state,
                                         std::string &reason)
{
    std::string target;
    if (!ReadTarget(connection, target) || !(target == "/" || target.starts_with("/?"))) {
        // The browser's own requests (an icon) and anything else that is not the redirect.
        Answer(connection, "404 Not Found", "");
        return Wait::Pending;
    }
    auto query = QueryOf(target);
    if (query["state"] != state) {
        Answer(connection, "400 Bad Request", "この要求は Kestlin の認可のものではありません。");
        return Wait::Pending;
    }
    if (!query["code"].empty()) {
        code_ = query["code"];
        Answer(connection, "200 OK",
               "認可を受け取りました。このページを閉じて Kestlin に戻ってください。");
        return Wait::Code;
    }
    reason = "認可サーバーが認可を断りました: "
             + (query["error"].empty() ? std::string("理由は示されていません。") : query["error"]);
    if (!query["error_description"].empty())
        reason += "\n" + query["error_description"];
    Answer(connection, "200 OK", "認可されませんでした。Kestlin の表示を確認してください。");
    return Wait::Failed;
}

} // namespace kestlin
