#include "arguments.h"

#include "common/hostname.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <openssl/crypto.h>
#include <string_view>

namespace bsmtp {

namespace {

std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string Trim(const std::string &text)
{
    const auto first = text.find_first_not_of(" \r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \r\n") - first + 1);
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The address without the angle brackets and spaces around it.
std::string Bare(const std::string &text)
{
    std::string address = Trim(text);
    if (address.size() >= 2 && address.front() == '<' && address.back() == '>')
        address = Trim(address.substr(1, address.size() - 2));
    return address;
}

bool ParseNumber(const std::string &text, long low, long high, long &value)
{
    const std::string digits = Trim(text);
    if (digits.empty() || digits.size() > 9
        || !std::all_of(digits.begin(), digits.end(),
                        [](unsigned char c) { return std::isdigit(c); }))
        return false;
    value = std::strtol(digits.c_str(), nullptr, 10);
    return value >= low && value <= high;
}

// type "/" subtype, nothing that could break the header it goes into.
bool IsMimeType(const std::string &type)
{
    const size_t slash = type.find('/');
    return slash != std::string::npos && slash > 0 && slash + 1 < type.size()
           && type.find('/', slash + 1) == std::string::npos
           && std::all_of(type.begin(), type.end(), [](unsigned char c) {
                  return std::isalnum(c)
                         || std::string_view("!#$&-^_.+/").find(c) != std::string_view::npos;
              });
}

} // namespace

std::string BracketedHost(const std::string &host)
{
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

bool ParseHost(const std::string &text, std::string &host, std::string &reason)
{
    if (text.empty()) {
        reason = "サーバー名が指定されていません。";
        return false;
    }
    // An IPv6 address may come without its brackets: nothing follows it.
    if (!kestlin::IsServerName(text) && !kestlin::IsServerName("[" + text + "]")) {
        reason = "サーバー名が正しくありません: " + text;
        return false;
    }
    host = kestlin::NormalServerName(text);
    return true;
}

bool ParseServer(const std::string &text, int defaultPort, Server &server, std::string &reason)
{
    const std::vector<std::string> parts = Split(text, '\t');
    if (!ParseHost(Trim(parts[0]), server.host, reason))
        return false;
    long port = defaultPort;
    if (parts.size() > 1 && !Trim(parts[1]).empty() && !ParseNumber(parts[1], 1, 65535, port)) {
        reason = "ポート番号が正しくありません: " + parts[1];
        return false;
    }
    server.port = static_cast<int>(port);
    long timeout = 0;
    // A missing, zero or unreadable time-out leaves the usual two minutes.
    if (parts.size() > 2 && ParseNumber(parts[2], 1, 86400, timeout))
        server.timeoutSeconds = timeout;
    else
        server.timeoutSeconds = 120;
    return true;
}

Recipients ParseRecipients(const std::string &text)
{
    std::string list = Trim(text);
    if (!list.empty() && list.front() == '<')
        list.erase(0, 1);
    if (!list.empty() && list.back() == '>')
        list.pop_back();
    Recipients recipients;
    std::vector<std::string> *current = &recipients.to;
    for (const std::string &part : Split(list, '\t')) {
        const std::string entry = Bare(part);
        const std::string word = Upper(entry);
        if (word == "CC")
            current = &recipients.cc;
        else if (word == "BCC")
            current = &recipients.bcc;
        else if (!entry.empty())
            current->push_back(entry);
    }
    return recipients;
}

void Wipe(std::string &secret)
{
    OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

bool ParseSender(const std::string &text, Sender &sender, std::string &reason)
{
    // The password may hold any character but TAB: the address is before
    // the first TAB and the method after the last one.
    const size_t first = text.find('\t');
    sender.address = Bare(text.substr(0, first));
    if (sender.address.empty()) {
        reason = "差出人のアドレスが指定されていません。";
        return false;
    }
    if (first == std::string::npos)
        return true;
    const size_t last = text.rfind('\t');
    sender.method = Upper(Trim(text.substr(last + 1)));
    const std::string account = last > first ? text.substr(first + 1, last - first - 1) : "";
    if (sender.method.empty() && Trim(account).empty())
        return true;
    if (sender.method != "LOGIN" && sender.method != "CRAM-MD5" && sender.method != "PLAIN") {
        reason = "認証方式が正しくありません: " + text.substr(last + 1);
        return false;
    }
    const size_t colon = account.find(':');
    sender.user = account.substr(0, colon);
    sender.password = colon == std::string::npos ? "" : account.substr(colon + 1);
    if (sender.user.empty()) {
        reason = "認証のユーザーIDが指定されていません。";
        return false;
    }
    return true;
}

std::vector<Attachment> ParseAttachments(const std::string &text)
{
    std::vector<Attachment> attachments;
    for (const std::string &entry : Split(text, '\t')) {
        if (Trim(entry).empty())
            continue;
        // Split from the right: a path may hold "|", a MIME type never does.
        Attachment attachment;
        std::string rest = entry;
        const size_t typeBar = rest.rfind('|');
        if (typeBar != std::string::npos) {
            attachment.type = Trim(rest.substr(typeBar + 1));
            rest.erase(typeBar);
            const size_t nameBar = rest.rfind('|');
            if (nameBar != std::string::npos) {
                attachment.name = rest.substr(nameBar + 1);
                rest.erase(nameBar);
            } else {
                // "path|name": the second part was the name, not a type.
                attachment.name = attachment.type;
                attachment.type.clear();
            }
        }
        attachment.path = rest;
        if (attachment.name.empty())
            attachment.name = attachment.path.substr(attachment.path.find_last_of('/') + 1);
        if (!IsMimeType(attachment.type))
            attachment.type = "application/octet-stream";
        attachments.push_back(attachment);
    }
    return attachments;
}

} // namespace bsmtp
