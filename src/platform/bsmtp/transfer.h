#pragma once
// One libcurl handle for an SMTP or POP3 exchange, with what the server said
// kept aside: its last reply line and, for SMTP, the EHLO capabilities and
// whether the sign-in succeeded on the connection in use.
#include "arguments.h"

#include <curl/curl.h>
#include <set>
#include <string>

namespace bsmtp {

struct ServerTalk
{
    std::string lastReply;
    std::string lastRefusal; // the last 4xx, 5xx or -ERR line

    bool authOffered = false;
    std::set<std::string> mechanisms;
    bool signedIn = false;
    bool inEhlo = false;
};

class Transfer
{
public:
    // scheme "smtp" or "pop3"; tlsPort speaks TLS from the first byte.
    Transfer(const char *scheme, int tlsPort, const Server &server, const std::string &path);
    ~Transfer();
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;

    CURL *handle() const { return curl_; }
    const ServerTalk &talk() const { return talk_; }
    // curl's own description of the last failure.
    std::string Describe(CURLcode code) const;

private:
    static int OnDebug(CURL *, curl_infotype type, char *data, size_t size, void *self);
    static size_t OnWrite(char *, size_t size, size_t count, void *);
    void Heard(const std::string &line);
    void Said(const std::string &line);

    CURL *curl_ = nullptr;
    ServerTalk talk_;
    char error_[CURL_ERROR_SIZE] = {};
};

} // namespace bsmtp
