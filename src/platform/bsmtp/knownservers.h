#pragma once
// known-servers.txt: the servers whose certificate the user (or an
// administrator) accepted, the servers with which TLS has worked before, and
// the servers the user allowed to get a password in clear.
//
// One entry a line, the server first as "host:port" (an IPv6 address in
// brackets; names compare in lower case, without a final dot), then what is
// known of it:
//   mail.example.co.jp:587 sha256//<Base64 of the SHA-256 of the public key>
//   mail.example.co.jp:25 starttls
//   mail.example.co.jp:25 no-tls
// Several words may share a line, and several keys a word separated by ";"
// as curl writes them. Lines end in CR LF or LF; blank lines and lines
// starting with "#" are skipped. Any other line is not understood: it is
// reported with its number, and a server it names is trusted no further.
#include <string>
#include <vector>

namespace bsmtp {

// The entry name of a server: "host:port", "[v6]:port", the host normalised.
std::string ServerKey(const std::string &host, int port);

class KnownServers
{
public:
    explicit KnownServers(std::string path)
        : path_(std::move(path))
    { }

    const std::string &path() const { return path_; }
    // Reads the file; one that is not there is empty. False with a reason
    // naming the file when it is there but cannot be read.
    bool Load(std::string &reason);
    // The lines not understood, each as "<file> の N 行目…: <line>".
    const std::vector<std::string> &problems() const { return problems_; }

    // The public-key pins given for the server ("sha256//…"); none: not known.
    std::vector<std::string> Pins(const std::string &server) const;
    // Whether TLS has worked with the server before ("starttls").
    bool OfferedTls(const std::string &server) const;
    // Whether the user allowed a password in clear to it ("no-tls").
    bool PlainAllowed(const std::string &server) const;
    // Whether a line not understood names the server.
    bool Unclear(const std::string &server) const;

    // Adds one line at the end unless it is there already: under a lock on
    // "<file>.lock" beside the file, the file is read again, kept byte for
    // byte and replaced as a whole (through a link, the file it points to).
    bool Add(const std::string &line, std::string &reason);

private:
    struct Entry
    {
        std::string server;
        std::vector<std::string> words; // empty: the line was not understood
    };
    void Parse(std::string bytes);

    std::string path_;
    std::vector<Entry> entries_;
    std::vector<std::string> problems_;
};

} // namespace bsmtp
