#pragma once
// The certificate a server showed in the TLS handshake, checked the way curl
// checks it (the system's trust store and OpenSSL security level, the host
// name the user typed), but
// after the handshake, so that a certificate the system does not accept can
// still be shown to the user, compared with a stored key or accepted.
#include <curl/curl.h>
#include <functional>
#include <string>

namespace bsmtp {

struct Certificate
{
    std::string subject, issuer; // one line each, RFC 2253 order
    std::string validFrom, validUntil; // "YYYY/MM/DD HH:MM:SS UTC"
    std::string fingerprint; // SHA-256 of the certificate, "AB:CD:…"
    std::string pin; // "sha256//" and the Base64 SHA-256 of the public key
    long verifyResult = 0; // X509_V_OK when the system accepts it for the host
    std::string problem; // why it does not, a Japanese sentence; else empty
};

// Whether a verification failed on a key or signature below the system's
// security level: no answer of the user makes such a certificate sound.
bool IsTooWeak(long verifyResult);

// Whether host is an IPv4 or IPv6 address rather than a name.
bool IsAddress(const std::string &host);

// The server certificate of a handle that has done its handshake with
// CURLOPT_CERTINFO on; false with a reason when it cannot be read.
bool ReadCertificate(CURL *curl, const std::string &host, Certificate &certificate,
                     std::string &reason);

// What may be trusted beyond the system's store, and who is asked.
struct TrustRules
{
    std::string knownServers; // path of known-servers.txt
    // Asked about a certificate the system does not accept; true: trust it.
    std::function<bool(const std::string &server, const Certificate &)> ask;
    // Asked whether a password may go in clear to a server without TLS;
    // explanation says why it is asked. True: it may (and that is stored).
    std::function<bool(const std::string &server, const std::string &explanation)> askPlain;
    // Told what the user should know though the send goes on: a line of the
    // file not understood, a line that could not be stored.
    std::function<void(const std::string &notice)> tell;
};

} // namespace bsmtp
