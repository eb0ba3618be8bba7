#pragma once
// Whether what is about to go may go on this connection: the one place that
// weighs the sign-in, the certificate, the stored key, and what
// known-servers.txt remembers of the server. The connection gathers the
// facts, this decides, the connection carries the verdict out.
namespace bsmtp {

// What the connection has at the moment of deciding.
enum class Tls {
    None, // no TLS: the server did not offer it, or declined it
    Failed, // the handshake itself failed (an old server, or someone between)
    Verified, // TLS with a certificate the system accepts for the host
    Unverified, // TLS with a certificate the system does not accept
    Weak, // TLS with a key or signature below the system's security level
};

// The server's stored keys against the key it showed.
enum class Pin {
    None, // no key stored for the server
    Match, // the key shown is one of the stored keys
    Mismatch, // keys are stored; none was shown, or another one
};

struct TrustFacts
{
    bool secret = false; // a password or token travels on this connection
    bool tlsChosen = false; // a port that speaks TLS from the first byte
    Tls tls = Tls::None;
    Pin pin = Pin::None;
    bool recordedTls = false; // "starttls": TLS worked with it before
    bool plainAllowed = false; // "no-tls": the user allowed a clear password
};

enum class TrustVerdict {
    Go,
    RetryWithoutTls, // nothing secret, nothing known: a new connection in clear
    AskCertificate, // the user may trust the certificate (then it is stored)
    AskPlain, // the user may allow the password in clear (then that is stored)
    ChangedKey, // refused: not the stored key
    TooWeak, // refused: a weak certificate where one is checked
    Downgrade, // refused: no TLS where TLS is known to work
    TlsFailed, // refused: the handshake failed where TLS is needed
};

TrustVerdict DecideTrust(const TrustFacts &facts);

} // namespace bsmtp
