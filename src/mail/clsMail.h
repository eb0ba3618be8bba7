#pragma once
// One outgoing mail and its submission through the mail library, with the
// sign-in method of the settings (POP before SMTP done here).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestlin {

// What the user is asked about a mail server.
enum class TrustKind {
    Certificate, // a certificate the system does not accept
    PlainText, // a server without TLS that would get the password in clear
};

// A server certificate that the system does not accept, or a server that
// offers no TLS, as the user sees it before deciding whether to trust it.
struct ServerCertificate
{
    std::string server; // "host:port"
    std::string subject, issuer;
    std::string validFrom, validUntil; // "YYYY/MM/DD HH:MM:SS UTC"
    std::string fingerprint; // SHA-256 of the certificate, "AB:CD:…"
    std::string problem; // why it is not accepted, Japanese sentences
    std::string line; // the line of known-servers.txt that trusts it
    TrustKind kind = TrustKind::Certificate;
};

// The question the window asks about such a certificate or server, in
// Japanese.
std::string TrustQuestion(const ServerCertificate &certificate);

// The known-servers file at path checked line by line: true when it is
// missing or every line is understood; false with the reasons, one a line.
bool CheckKnownServers(const std::string &path, std::string &problems);

// What became of a message after Send.
enum class MailDelivery { NotSent, Accepted, Unknown };

class clsMail
{
public:
    clsMail() = default;
    // The password does not outlive the object in memory.
    ~clsMail();
    clsMail(const clsMail &) = default;
    clsMail &operator=(const clsMail &) = default;
    bool Send();
    const std::string &GetErrMsg() const { return errMsg_; }
    // After Send(): Accepted when it returned true; Unknown when the whole
    // message had gone (its last byte sent) but no final reply came: a
    // dropped connection or a time-out; NotSent otherwise (including a
    // 4xx/5xx reply to the end of the data).
    MailDelivery GetDelivery() const { return delivery_; }

    void SetSMTP(const std::string &value) { smtp_ = value; }
    void SetPOP(const std::string &value) { pop_ = value; }
    // POP before SMTP; 0 (unset) is the usual 110.
    void SetPOPPort(int32_t value) { popPort_ = value; }
    void SetPort(const std::string &value) { port_ = value; }
    void SetPort(int32_t value) { port_ = std::to_string(value); }
    void AddTo(const std::string &value) { Append(to_, value); }
    void AddCc(const std::string &value) { Append(cc_, value); }
    void AddBcc(const std::string &value) { Append(bcc_, value); }
    void SetFrom(const std::string &value) { from_ = value; }
    void SetMain(const std::string &value) { main_ = value; }
    void SetSubject(const std::string &value) { subject_ = value; }
    void AddFile(const std::string &value) { Append(file_, value); }
    // 0 none, 1 POP before SMTP, 2 LOGIN, 3 CRAM-MD5, 4 PLAIN, 5 an OAuth 2.0
    // access token given as the password; any other code is 0.
    void SetCertify(int16_t value) { certify_ = value; }
    void SetUserId(const std::string &value) { userId_ = value; }
    void SetPassword(const std::string &value) { password_ = value; }

    // Raised while the message goes: bytes of it sent so far and its whole
    // size; the last call, sent == total, only once the server accepted it.
    // Raised on the thread that calls Send; an exception it throws is dropped.
    std::function<void(int64_t sent, int64_t total)> Sending;

    // known-servers.txt: the servers whose certificate was accepted, those
    // with which TLS worked, and those allowed a password in clear. Set, Send
    // uses the library's rules for it (BsmtpSubmission.knownServers): TLS
    // whenever offered, stored keys and records binding every method, and no
    // password in clear unless allowed. Empty, Send checks certificates
    // against the system only.
    void SetKnownServers(const std::string &value) { knownServers_ = value; }
    // Asked, with a known-servers file, about a certificate the system does
    // not accept, or whether a password may go in clear to a server without
    // TLS; true: trust it (the library stores it). Unset, or when it throws:
    // refused, and the error text names the line to add.
    std::function<bool(const ServerCertificate &)> TrustCertificate;
    // What the library told during the last Send though the send went on
    // (a line of the known-servers file not understood or not stored).
    const std::vector<std::string> &GetNotices() const { return notices_; }

private:
    static void Append(std::string &field, const std::string &value)
    {
        field = field.empty() ? value : field + '\t' + value;
    }

    std::string smtp_, pop_, port_, to_, cc_, bcc_, from_, main_, subject_, file_;
    int32_t popPort_ = 0;
    int16_t certify_ = 0;
    std::string userId_, password_;
    std::string knownServers_;
    std::vector<std::string> notices_;
    std::string errMsg_;
    MailDelivery delivery_ = MailDelivery::NotSent;
};

} // namespace kestlin
