#pragma once
// The argument strings of SendMail and RcvMail, taken apart.
#include <string>
#include <vector>

namespace bsmtp {

struct Server
{
    std::string host;
    int port = 0;
    long timeoutSeconds = 120;
};

// The host as it stands before ":port" (in a URL, in known-servers.txt): an
// IPv6 address in brackets, anything else as it is.
std::string BracketedHost(const std::string &host);

// A host name, an IPv4 address or an IPv6 address (brackets optional) and
// nothing else, normalised (NormalServerName); false with a reason.
bool ParseHost(const std::string &text, std::string &host, std::string &reason);

// "host" TAB "port" [TAB "time-out"]; false with a reason when the host is
// missing or no server name (see IsServerName), or the port is not a number
// from 1 to 65535. The host comes out normalised (NormalServerName).
bool ParseServer(const std::string &text, int defaultPort, Server &server, std::string &reason);

struct Recipients
{
    std::vector<std::string> to, cc, bcc;
};

// "<" a TAB b TAB "cc" TAB c TAB "bcc" TAB d ">".
Recipients ParseRecipients(const std::string &text);

struct Sender
{
    std::string address;
    std::string user, password;
    std::string method; // "", "LOGIN", "CRAM-MD5" or "PLAIN"
};

// Overwrites a password (or a text that holds one) before its memory goes.
void Wipe(std::string &secret);

// "<" address ">" [TAB "user:password" TAB method].
bool ParseSender(const std::string &text, Sender &sender, std::string &reason);

struct Attachment
{
    std::string path, name, type;
};

// Entries "path|name|type" separated by TAB.
std::vector<Attachment> ParseAttachments(const std::string &text);

} // namespace bsmtp
