#pragma once
// Real mail servers on 127.0.0.1 for the tests: an SMTP server (aiosmtpd, run
// with /usr/bin/python3) and a POP3 server (Debian's dovecot), each started
// with a configuration of its own in a fresh temporary folder and stopped by
// its process id when the object goes away.
#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace kestlin::test {

// Recipients "...@refused.test" are refused with "550 5.1.1".
struct SmtpOptions
{
    // Mechanisms offered after EHLO, of "LOGIN", "PLAIN", "CRAM-MD5",
    // "XOAUTH2", "OAUTHBEARER"; empty: no AUTH line at all.
    std::vector<std::string> mechanisms { "LOGIN", "PLAIN", "CRAM-MD5" };
    std::string user = "user";
    std::string password = "password";
    // The access token that XOAUTH2 and OAUTHBEARER take for user (empty:
    // the server's own default, "token").
    std::string bearerToken;
    // Instead: the access-token file of an IdentityProvider, whose live
    // tokens are taken for user.
    std::string oauthTokens;
    // Offer STARTTLS (or speak TLS from the start) with a certificate from
    // a certificate authority made with the openssl command (folder()/ca.pem):
    // no client trusts it unless told.
    bool startTls = false;
    bool implicitTls = false;
    // Whom the certificate names: an address goes in as one, anything else
    // as a DNS name. Each Start makes a new key.
    std::string certificateName = "127.0.0.1";
    // Speak only TLS 1.0, as an old server: no current client completes the
    // handshake.
    bool oldTls = false;
    // The server's own key is RSA of 1024 bits, below what current clients
    // accept (its certificate authority's key stays strong).
    bool weakKey = false;
    // 0: a free port.
    int port = 0;
    // A slow line: the server reads at most this many bytes a second.
    int throttleBytesPerSecond = 0;
    // Where the server stops answering (and reading).
    enum class Stall { None, Greeting, Data, EndOfData };
    Stall stall = Stall::None;
    // Once the whole message is in: the usual reply, the message stored and
    // the connection dropped without a reply, or a 554 refusal.
    enum class AfterData { Reply, Drop, Refuse };
    AfterData afterData = AfterData::Reply;
    // The largest message taken, in bytes (0: any), and what the EHLO reply
    // tells of it: "SIZE <limit>", "SIZE" alone (a declared size over the
    // limit is refused at MAIL FROM all the same), or nothing (the message
    // is refused after its last byte).
    long long sizeLimit = 0;
    enum class SizeOffer { Limit, Bare, None };
    SizeOffer sizeOffer = SizeOffer::Limit;
};

struct ReceivedMail
{
    std::string mailFrom;
    std::vector<std::string> rcptTos;
    bool authenticated = false;
    std::string mechanism; // the mechanism that signed in, if any
    std::string login;
    bool tls = false;
    std::string raw; // the message bytes as received (after dot-unstuffing)
    std::string path; // the stored message file
};

class SmtpServer
{
public:
    SmtpServer() = default;
    ~SmtpServer();
    SmtpServer(const SmtpServer &) = delete;
    SmtpServer &operator=(const SmtpServer &) = delete;

    // False with a reason when the server did not come up within seconds.
    bool Start(const SmtpOptions &options, std::string &reason);
    void Stop();
    int port() const { return port_; }
    const std::string &folder() const { return folder_; }

    // The messages accepted so far, in order of arrival.
    std::vector<ReceivedMail> Received() const;
    // Only the paths of the stored messages (NNNNNN.eml, beside NNNNNN.env).
    std::vector<std::string> MessageFiles() const;
    // How many MAIL FROM commands the server has seen, accepted or not.
    int MailCommands() const;
    // Every EHLO, MAIL, DATA and QUIT line the server has read ("EHLO name",
    // "MAIL FROM:<a> SIZE=n", "DATA", "QUIT"), in order.
    std::vector<std::string> Dialogue() const;
    // Waits up to timeoutMs for at least count messages.
    bool WaitForMessages(size_t count, int timeoutMs = 5000) const;

private:
    std::string folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

struct Pop3Options
{
    std::string user = "user";
    std::string password = "password";
    // 0: a free port; 110 needs root (CI runs as root).
    int port = 0;
    // Offer STLS with a certificate for 127.0.0.1 from a certificate
    // authority of its own, as SmtpOptions::startTls.
    bool stls = false;
};

class Pop3Server
{
public:
    Pop3Server() = default;
    ~Pop3Server();
    Pop3Server(const Pop3Server &) = delete;
    Pop3Server &operator=(const Pop3Server &) = delete;

    bool Start(const Pop3Options &options, std::string &reason);
    void Stop();
    int port() const { return port_; }
    // The server's own log: who logged in, which command ran.
    std::string Log() const;

private:
    std::string folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// One step of a scripted server: Read a line, ReadData to the line of one
// dot, Send text, Drip it a byte every ms milliseconds, Flood it again and
// again until the client goes, Pause ms milliseconds, Close the connection.
struct Step
{
    enum Kind { Read, ReadData, Send, Drip, Flood, Pause, Close } kind;
    std::string text;
    int ms = 0;
    Step(Kind kind, std::string text = {}, int ms = 0)
        : kind(kind)
        , text(std::move(text))
        , ms(ms)
    { }
};

// A mail server on a thread of the test that plays a script on its first
// connection, for what no real server does; after the script it reads on
// in silence until the client goes.
class ScriptedServer
{
public:
    explicit ScriptedServer(std::vector<Step> script);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    int port() const { return port_; }
    // When the server last sent a byte (or took the connection).
    std::chrono::steady_clock::time_point LastByte() const { return lastByte_; }

private:
    void Play(const std::vector<Step> &script);

    int listener_ = -1;
    std::atomic<int> connection_ { -1 };
    int port_ = 0;
    std::atomic<std::chrono::steady_clock::time_point> lastByte_;
    std::thread thread_;
};

// True when 127.0.0.1:port can be bound now; otherwise false with the reason
// (taken, or a privileged port and no root).
bool PortCanBeBound(int port, std::string &reason);

// A port on 127.0.0.1 that was free a moment ago.
int FreePort();

// What Python's email package sees in a stored message: the decoded headers
// ("header:Subject", "header:To", ...), "raw_subject", "content_type",
// "body", "body_charset", "body_encoding", and per attachment
// "attachment_name" (Content-Disposition's), "attachment_type_name" (Content-
// Type's), "attachment_type", "attachment_encoding",
// "attachment_bytes"; "defects" counts the parser's complaints.
struct ParsedMail
{
    bool ok = false;
    std::string error;
    std::multimap<std::string, std::string> fields;

    std::string Get(const std::string &key) const;
    std::vector<std::string> All(const std::string &key) const;
};
ParsedMail ParseWithPython(const std::string &messagePath);

} // namespace kestlin::test
