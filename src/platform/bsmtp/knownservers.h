#pragma once
// known-servers.txt: the servers whose certificate the user (or an
// administrator) accepted, and the servers that have offered TLS before.
//
// One entry a line, the server first as "host:port" (an IPv6 address in
// brackets, names in lower case), then what is known of it:
//   mail.example.co.jp:587 sha256//<Base64 of the SHA-256 of the public key>
//   mail.example.co.jp:25 starttls
// Several keys may share a line, separated by ";" as curl writes them, or
// stand on lines of their own. Lines may end in CR LF or LF; blank lines,
// lines starting with "#" and lines of any other form are kept and skipped.
#include <string>
#include <vector>

namespace bsmtp {

// The entry name of a server: "host:port", "[v6]:port".
std::string ServerKey(const std::string &host, int port);

class KnownServers
{
public:
    explicit KnownServers(std::string path)
        : path_(std::move(path))
    { }

    const std::string &path() const { return path_; }
    // The public-key pins given for the server ("sha256//…"); none: not known.
    std::vector<std::string> Pins(const std::string &server) const;
    // Whether the server has offered STARTTLS (or STLS) before.
    bool OfferedTls(const std::string &server) const;

    // Adds one line at the end, unless it is there already: the file is read
    // again, kept byte for byte and replaced as a whole (a new file beside it,
    // then renamed), so that neither a crash nor a full disk loses a line.
    bool Add(const std::string &line, std::string &reason) const;

private:
    // The words after the server on every line that names it.
    std::vector<std::string> Words(const std::string &server) const;

    std::string path_;
};

} // namespace bsmtp
