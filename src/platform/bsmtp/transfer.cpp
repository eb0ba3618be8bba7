#include "transfer.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <sstream>
#include <sys/socket.h>

namespace bsmtp {

namespace {

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string HostInUrl(const std::string &host)
{
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// The wait for the reply after the last byte includes the time the line
// needs to carry what still sits in our socket buffer. Left to autotuning
// that buffer may grow to megabytes, more than a slow line carries within
// the time-out; 512 KiB (Linux doubles it) still fills fast lines.
int LimitSendBuffer(void *, curl_socket_t socket, curlsocktype purpose)
{
    if (purpose == CURLSOCKTYPE_IPCXN) {
        const int size = 512 * 1024;
        ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    return CURL_SOCKOPT_OK;
}

} // namespace

Transfer::Transfer(const char *scheme, int tlsPort, const Server &server, const std::string &path)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    curl_ = curl_easy_init();
    if (!curl_)
        return;
    const bool implicitTls = server.port == tlsPort;
    const std::string url = std::string(scheme) + (implicitTls ? "s://" : "://")
                            + HostInUrl(server.host) + ":" + std::to_string(server.port) + "/"
                            + path;
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    // TLS whenever the server offers it; the certificate is always checked.
    curl_easy_setopt(curl_, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 2L);
    // The time-out bounds each wait, never the whole transfer: a large
    // report on a slow line must still go through.
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, server.timeoutSeconds);
    curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT, server.timeoutSeconds);
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, server.timeoutSeconds);
    curl_easy_setopt(curl_, CURLOPT_SOCKOPTFUNCTION, &LimitSendBuffer);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, error_);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
    // The debug hook is how the server's reply lines reach us; curl calls it
    // only in verbose mode, and then prints nothing itself.
    curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, &Transfer::OnDebug);
    curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
}

Transfer::~Transfer()
{
    if (curl_)
        curl_easy_cleanup(curl_);
}

std::string Transfer::Describe(CURLcode code) const
{
    return error_[0] ? std::string(error_) : std::string(curl_easy_strerror(code));
}

size_t Transfer::OnWrite(char *, size_t size, size_t count, void *)
{
    return size * count;
}

int Transfer::OnDebug(CURL *, curl_infotype type, char *data, size_t size, void *self)
{
    auto *transfer = static_cast<Transfer *>(self);
    if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT)
        return 0;
    std::istringstream lines(std::string(data, size));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (type == CURLINFO_HEADER_IN)
            transfer->Heard(line);
        else
            transfer->Said(line);
    }
    return 0;
}

void Transfer::Said(const std::string &line)
{
    // A new EHLO starts over: after STARTTLS the server tells its
    // capabilities anew, and a sign-in before it no longer counts.
    if (Upper(line.substr(0, 5)) == "EHLO ") {
        talk_.inEhlo = true;
        talk_.authOffered = false;
        talk_.mechanisms.clear();
        talk_.signedIn = false;
    } else {
        talk_.inEhlo = false;
    }
}

void Transfer::Heard(const std::string &line)
{
    talk_.lastReply = line;
    if (line[0] == '4' || line[0] == '5' || line.compare(0, 4, "-ERR") == 0)
        talk_.lastRefusal = line;
    if (line.compare(0, 3, "235") == 0)
        talk_.signedIn = true;
    if (!talk_.inEhlo || line.compare(0, 3, "250") != 0 || line.size() < 5)
        return;
    std::istringstream words(Upper(line.substr(4)));
    std::string word;
    words >> word;
    // "AUTH=LOGIN" is how some old servers say it.
    if (word == "AUTH" || word.compare(0, 5, "AUTH=") == 0) {
        talk_.authOffered = true;
        if (word.size() > 5)
            talk_.mechanisms.insert(word.substr(5));
        while (words >> word)
            talk_.mechanisms.insert(word);
    }
}

} // namespace bsmtp
