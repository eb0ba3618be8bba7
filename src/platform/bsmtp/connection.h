#pragma once
// One connection to a mail server for a dialogue that this library drives
// itself. curl resolves the name, connects and speaks TLS, from the first
// byte or after STARTTLS on the same socket; every wait (the connection, each
// reply, each stall of the data) has a time-out of its own, and a reply that
// arrives ahead of its command is refused.
#include "arguments.h"
#include "certificate.h"
#include "knownservers.h"
#include "trust.h"

#include <chrono>
#include <curl/curl.h>
#include <string>
#include <string_view>

namespace bsmtp {

// The short leads of the failure texts, one set per protocol.
struct Leads
{
    const char *connect, *silent, *tls, *auth, *refused, *broken, *closed;
    const char *startTls; // the protocol's command that starts TLS
};
extern const Leads kSmtpLeads;
extern const Leads kPop3Leads;

class Connection
{
public:
    // rules: which certificates are trusted beyond the system's store, where
    // servers are remembered and who is asked; none: the system's store only.
    Connection(const Server &server, const Leads &leads, const TrustRules *rules = nullptr);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Whether a password or token travels on this connection: with trust
    // rules, it decides what TLS must be (see DecideTrust).
    void Secret(bool secret) { secret_ = secret; }
    // Connects, with TLS from the first byte when tls; the wait for the
    // server's greeting starts then. With trust rules, known-servers.txt is
    // read first, and one that is there but cannot be read stops here.
    bool Open(bool tls);
    // Switches to TLS after the server agreed to STARTTLS (or STLS).
    bool StartTls();
    bool secure() const { return tls_ != nullptr; }
    // Whether a new connection without TLS may carry the mail: the handshake
    // failed where nothing secret goes and nothing is known of the server.
    bool retryWithoutTls() const { return retryWithoutTls_; }
    // Whether the dialogue broke after the user said yes to a question:
    // the server may have given up waiting for the answer.
    bool lostAfterQuestion() const { return trustedByUser_ && broken_; }
    // With trust rules, before going on without TLS: whether what is to go
    // may go in clear (the user may be asked).
    bool PlainAllowed();

    // Sends one command line; what waits for its reply is named by label
    // (the command's first word when empty). Refused when the server has
    // sent anything that no command asked for yet.
    bool Command(const std::string &line, const std::string &label = {});
    // Sends bytes of the message; last: the reply to the message is awaited
    // from then on.
    bool SendData(std::string_view bytes, bool last);
    // One line of a reply, without its line end, within the wait.
    bool ReadLine(std::string &line);
    // Says goodbye with command, unless the dialogue broke, and waits a
    // little for the answer; the reason stays.
    void Close(const std::string &command);

    // Sets the reason and returns false: Fail where the dialogue may still
    // end politely (a refusal), Break where it cannot go on.
    bool Fail(const std::string &reason);
    bool Break(const std::string &reason);
    const std::string &reason() const { return reason_; }
    const Leads &leads() const { return leads_; }
    long timeoutSeconds() const { return server_.timeoutSeconds; }
    // The address of our end of the connection, as curl reports it.
    std::string localAddress() const;

    // A reply line as the user may read it: control characters replaced,
    // no longer than a reply line may be.
    static std::string Shown(const std::string &line);

private:
    using Clock = std::chrono::steady_clock;

    bool Send(std::string_view bytes);
    bool Receive();
    bool Wait(short events, Clock::time_point deadline);
    bool Unasked(const char *before);
    void StartWait(const std::string &what);
    std::string Where() const;
    std::string Url(const char *scheme) const;
    std::string ConnectFailure(CURLcode code, CURL *curl) const;
    std::string TlsFailure(CURLcode code) const;
    bool Broken(CURLcode code);
    bool Trusted();
    TrustFacts Facts(Tls tls, const std::string &pin) const;
    std::string KnownLines() const;
    void Remember(const std::string &line);

    Server server_;
    const Leads &leads_;
    const TrustRules *rules_;
    KnownServers known_;
    std::string key_; // the server as known-servers.txt names it
    bool secret_ = false;
    bool tlsFromTheStart_ = false;
    bool retryWithoutTls_ = false;
    bool trustedByUser_ = false;
    CURL *plain_ = nullptr;
    CURL *tls_ = nullptr;
    curl_socket_t socket_ = CURL_SOCKET_BAD;
    char error_[CURL_ERROR_SIZE] = {};
    std::string buffer_; // received, not yet read
    bool closed_ = false;
    bool broken_ = false;
    Clock::time_point deadline_;
    std::string waitingFor_;
    std::string reason_;
};

} // namespace bsmtp
