#include "smtp.h"

#include "connection.h"
#include "greeting.h"
#include "sizelimit.h"

#include <cctype>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <set>
#include <sstream>

namespace bsmtp {

namespace {

// Far more than any server says in one reply; a reply that never ends
// stops here.
const size_t kMaxReply = 65536;

std::string Upper(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// "250-text", "250 text" or "250".
bool IsReplyLine(const std::string &line)
{
    return line.size() >= 3 && line[0] >= '2' && line[0] <= '5'
           && std::isdigit(static_cast<unsigned char>(line[1]))
           && std::isdigit(static_cast<unsigned char>(line[2]))
           && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

std::string Unbase64(const std::string &text, bool &ok)
{
    std::string bytes(text.size() / 4 * 3 + 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(bytes.data()),
                                       reinterpret_cast<const unsigned char *>(text.data()),
                                       static_cast<int>(text.size()));
    ok = length >= 0 && text.size() % 4 == 0;
    const size_t padding = text.size() - text.find_last_not_of('=') - 1;
    bytes.resize(ok && static_cast<size_t>(length) >= padding ? length - padding : 0);
    return bytes;
}

// The CRAM-MD5 answer: the HMAC-MD5 of the challenge in lower-case hex.
std::string CramDigest(const std::string &password, const std::string &challenge)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_md5(), password.data(), static_cast<int>(password.size()),
         reinterpret_cast<const unsigned char *>(challenge.data()), challenge.size(), digest,
         &length);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

class Session
{
public:
    // startTls: false to stay without TLS even where the server offers it.
    Session(const Server &server, const TrustRules *rules, bool startTls = true)
        : connection_(server, kSmtpLeads, rules)
        , implicitTls_(server.port == 465)
        , host_(server.host)
        , port_(server.port)
        , useStartTls_(startTls)
    { }
    bool Dialogue(const Sender &sender, const Recipients &recipients, MessageSource &message,
                  const ProgressPacer::Report &report);
    void Close() { connection_.Close("QUIT"); }
    const std::string &reason() const { return connection_.reason(); }
    // Whether STARTTLS failed in its handshake where a new connection may
    // go without it (see DecideTrust).
    bool RetryWithoutTls() const { return connection_.retryWithoutTls(); }
    // Whether a new connection may do better: without TLS as above, or with
    // the user's yes stored where the server went while the user was asked
    // (before any byte of the message).
    bool WorthAnotherTry() const
    {
        return RetryWithoutTls() || (connection_.lostAfterQuestion() && !messageStarted_);
    }
    // What became of the message, once Dialogue has returned sent.
    Delivery Verdict(bool sent) const
    {
        if (sent)
            return Delivery::Accepted;
        return lastByteSent_ && !finalRefusal_ ? Delivery::Unknown : Delivery::NotSent;
    }

private:
    bool Read();
    bool Ask(const std::string &command, const std::string &label = {})
    {
        return connection_.Command(command, label) && Read();
    }
    bool Refused(const char *lead);
    bool Hello();
    bool SignIn(const Sender &sender);
    bool SignInWithBearer(const Sender &sender);
    std::string Offered() const;
    bool Transfer(MessageSource &message, ProgressPacer &pacer);

    Connection connection_;
    bool implicitTls_;
    std::string host_;
    int port_;
    bool useStartTls_;
    bool messageStarted_ = false;
    bool lastByteSent_ = false;
    bool finalRefusal_ = false; // a 4xx or 5xx reply to the end of the message
    int code_ = 0;
    std::vector<std::string> lines_; // of the last reply
    bool startTls_ = false;
    bool authOffered_ = false;
    std::set<std::string> mechanisms_;
    std::string greeting_;
    SizeOffer size_;
};

bool Session::Read()
{
    lines_.clear();
    size_t size = 0;
    std::string line;
    do {
        if (!connection_.ReadLine(line))
            return false;
        if (!IsReplyLine(line))
            return connection_.Break(kSmtpLeads.broken + Connection::Shown(line));
        size += line.size();
        if (size > kMaxReply)
            return connection_.Break(std::string(kSmtpLeads.broken) + "応答が長すぎます("
                                     + std::to_string(kMaxReply) + " バイトを超えています)。");
        lines_.push_back(line);
    } while (line.size() > 3 && line[3] == '-');
    code_ = std::stoi(line.substr(0, 3));
    return true;
}

// The server's word after the lead; a code that is no refusal is out of
// place where a refusal is told.
bool Session::Refused(const char *lead)
{
    const std::string last = Connection::Shown(lines_.back());
    if (code_ >= 400)
        return connection_.Fail(lead + last);
    return connection_.Break(std::string(kSmtpLeads.broken) + "予期しない応答です: " + last);
}

bool Session::Hello()
{
    startTls_ = authOffered_ = false;
    mechanisms_.clear();
    size_ = {};
    if (!Ask("EHLO " + greeting_))
        return false;
    // A server from before the extensions: HELO, and none of them.
    if (code_ >= 500 && !Ask("HELO " + greeting_))
        return false;
    if (code_ != 250)
        return Refused(kSmtpLeads.refused);
    for (const std::string &line : lines_) {
        std::istringstream words(Upper(line.size() > 4 ? line.substr(4) : ""));
        std::string word;
        words >> word;
        startTls_ = startTls_ || word == "STARTTLS";
        if (word == "SIZE")
            size_ = ParseSizeOffer(line.substr(std::min<size_t>(line.size(), 8)));
        // "AUTH=LOGIN" is how some old servers say it.
        if (word == "AUTH" || word.compare(0, 5, "AUTH=") == 0) {
            authOffered_ = true;
            if (word.size() > 5)
                mechanisms_.insert(word.substr(5));
            while (words >> word)
                mechanisms_.insert(word);
        }
    }
    return true;
}

// The sign-in the settings ask for, before any address or byte of the
// message is sent: a server that does not offer it gets nothing.
bool Session::SignIn(const Sender &sender)
{
    const std::string lead = kSmtpLeads.auth;
    if (sender.method.empty())
        return true;
    if (!authOffered_)
        return connection_.Fail(lead + "SMTPサーバーがSMTP認証(AUTH)に対応していません。");
    if (sender.method == kBearer)
        return SignInWithBearer(sender);
    if (!mechanisms_.count(sender.method))
        return connection_.Fail(lead + "SMTPサーバーが認証方式 " + sender.method
                                + " に対応していません。(対応: " + Offered() + ")");
    if (sender.method == "PLAIN") {
        std::string credentials = Base64('\0' + sender.user + '\0' + sender.password);
        const bool asked = Ask("AUTH PLAIN " + credentials, "AUTH");
        Wipe(credentials);
        if (!asked)
            return false;
    } else if (sender.method == "LOGIN") {
        if (!Ask("AUTH LOGIN") || (code_ == 334 && !Ask(Base64(sender.user), "AUTH"))
            || (code_ == 334 && !Ask(Base64(sender.password), "AUTH")))
            return false;
    } else {
        if (!Ask("AUTH CRAM-MD5"))
            return false;
        if (code_ == 334) {
            bool ok = false;
            const std::string &line = lines_.back();
            const std::string challenge = Unbase64(line.size() > 4 ? line.substr(4) : "", ok);
            // A digest of nothing proves nothing and only shows the password's.
            if (!ok || challenge.empty())
                return connection_.Break(std::string(kSmtpLeads.broken)
                                         + "CRAM-MD5 の問いかけがありません: "
                                         + Connection::Shown(line));
            if (!Ask(Base64(sender.user + " " + CramDigest(sender.password, challenge)), "AUTH"))
                return false;
        }
    }
    return code_ == 235 || Refused(kSmtpLeads.auth);
}

std::string Session::Offered() const
{
    std::string offered;
    for (const std::string &mechanism : mechanisms_)
        offered += (offered.empty() ? "" : " ") + mechanism;
    return offered;
}

// An OAuth 2.0 access token: XOAUTH2 as the large providers speak it, else
// the standard OAUTHBEARER. A refused token comes back as a 334 challenge
// holding the error; the answer that ends the exchange (an empty line, or
// %x01) draws the server's final refusal, which is what the user reads.
bool Session::SignInWithBearer(const Sender &sender)
{
    const std::string bearer = "auth=Bearer " + sender.password + "\x01\x01";
    std::string mechanism, response, giveUp;
    if (mechanisms_.count("XOAUTH2")) {
        mechanism = "XOAUTH2";
        response = "user=" + sender.user + "\x01" + bearer;
    } else if (mechanisms_.count("OAUTHBEARER")) {
        // The account in the GS2 header, with "," and "=" escaped (RFC 5801).
        std::string account;
        for (const char c : sender.user)
            account += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
        mechanism = "OAUTHBEARER";
        response = "n,a=" + account + ",\x01host=" + host_ + "\x01port=" + std::to_string(port_)
                   + "\x01" + bearer;
        giveUp = Base64("\x01");
    } else {
        return connection_.Fail(std::string(kSmtpLeads.auth)
                                + "SMTPサーバーが認証方式 XOAUTH2 と OAUTHBEARER "
                                  "のどちらにも対応していません。(対応: "
                                + Offered() + ")");
    }
    if (!Ask("AUTH " + mechanism + " " + Base64(response), "AUTH"))
        return false;
    if (code_ == 334 && !Ask(giveUp, "AUTH"))
        return false;
    return code_ == 235 || Refused(kSmtpLeads.auth);
}

// Appends chunk as it goes on the wire: a second dot before each dot that
// starts a line.
void AppendStuffed(std::string_view chunk, bool lineStart, std::string &out)
{
    size_t from = 0;
    size_t at = lineStart && chunk.front() == '.' ? 0 : chunk.find("\n.");
    while (at != std::string_view::npos) {
        const size_t dot = chunk[at] == '.' ? at : at + 1;
        out.append(chunk.substr(from, dot - from));
        out += '.';
        from = dot;
        at = chunk.find("\n.", dot);
    }
    out.append(chunk.substr(from));
}

bool NeedsStuffing(std::string_view chunk, bool lineStart)
{
    return (lineStart && chunk.front() == '.') || chunk.find("\n.") != std::string_view::npos;
}

// The message, with a second dot at the start of each line that starts with
// one, and the line of one dot that ends it; then the server's reply. Small
// pieces (headers, the body, boundaries) and the end go together in one
// write; the base64 of the attachments, which never holds a line that starts
// with a dot, goes as it is, uncopied.
bool Session::Transfer(MessageSource &message, ProgressPacer &pacer)
{
    const size_t kBatch = 64 * 1024;
    messageStarted_ = true;
    pacer.Start();
    std::string batch;
    int64_t batched = 0;
    const auto flush = [&](bool last) {
        if (!connection_.SendData(batch, last))
            return false;
        pacer.Advance(batched);
        batch.clear();
        batched = 0;
        return true;
    };
    bool lineStart = true;
    for (;;) {
        std::string_view chunk;
        if (!message.Next(chunk))
            return connection_.Break(message.reason());
        if (chunk.empty())
            break;
        if (chunk.size() < kBatch || NeedsStuffing(chunk, lineStart)) {
            AppendStuffed(chunk, lineStart, batch);
            batched += static_cast<int64_t>(chunk.size());
        } else {
            if ((!batch.empty() && !flush(false)) || !connection_.SendData(chunk, false))
                return false;
            pacer.Advance(static_cast<int64_t>(chunk.size()));
        }
        lineStart = chunk.back() == '\n';
        if (batch.size() >= kBatch && !flush(false))
            return false;
    }
    batch += lineStart ? ".\r\n" : "\r\n.\r\n";
    if (!flush(true))
        return false;
    // From here on the server may hold the message whatever comes back,
    // unless it says it refuses it.
    lastByteSent_ = true;
    if (!Read())
        return false;
    finalRefusal_ = code_ >= 400;
    return true;
}

bool Session::Dialogue(const Sender &sender, const Recipients &recipients, MessageSource &message,
                       const ProgressPacer::Report &report)
{
    connection_.Secret(!sender.method.empty());
    if (!connection_.Open(implicitTls_) || !Read())
        return false;
    if (code_ != 220)
        return Refused(kSmtpLeads.refused);
    greeting_ = GreetingName(QualifiedHostName(), connection_.localAddress());
    if (!Hello())
        return false;
    if (!connection_.secure() && startTls_ && useStartTls_) {
        if (!Ask("STARTTLS"))
            return false;
        // Refused: on without TLS, as with a server that never offered it.
        if (code_ == 220 && (!connection_.StartTls() || !Hello()))
            return false;
    }
    if (!connection_.PlainAllowed())
        return false;
    // Over the server's limit: neither the password nor the message goes.
    const std::string tooLarge = TooLargeReason(size_, message.Size(), host_);
    if (!tooLarge.empty())
        return connection_.Fail(tooLarge);
    // Declared, the size lets the server refuse before the message goes.
    const std::string declared = size_.offered ? " SIZE=" + std::to_string(message.Size()) : "";
    if (!SignIn(sender) || !Ask("MAIL FROM:<" + sender.address + ">" + declared))
        return false;
    if (code_ / 100 != 2)
        return Refused(kSmtpLeads.refused);
    for (const auto *list : { &recipients.to, &recipients.cc, &recipients.bcc }) {
        for (const std::string &address : *list) {
            if (!Ask("RCPT TO:<" + address + ">"))
                return false;
            if (code_ / 100 != 2)
                return Refused(kSmtpLeads.refused);
        }
    }
    if (!Ask("DATA"))
        return false;
    if (code_ != 354)
        return Refused(kSmtpLeads.refused);
    // Accepted is only what the server accepts after the message's last byte.
    ProgressPacer pacer(report, message.Size());
    if (!Transfer(message, pacer))
        return false;
    if (code_ / 100 != 2)
        return Refused(kSmtpLeads.refused);
    pacer.Finish();
    return true;
}

} // namespace

std::string Submit(const Server &server, const Sender &sender, const Recipients &recipients,
                   MessageSource &message, const ProgressPacer::Report &report,
                   const TrustRules *rules, Delivery *delivery)
{
    Session session(server, rules);
    const bool sent = session.Dialogue(sender, recipients, message, report);
    session.Close();
    if (delivery)
        *delivery = session.Verdict(sent);
    if (sent || !rules || !session.WorthAnotherTry())
        return sent ? std::string() : session.reason();
    // Once more on a new connection: plain where no password travels and
    // the TLS is one this side cannot speak (an old server), as before there
    // was any TLS; or with the user's yes now stored.
    Session again(server, rules, !session.RetryWithoutTls());
    const bool sentAgain = again.Dialogue(sender, recipients, message, report);
    again.Close();
    if (delivery)
        *delivery = again.Verdict(sentAgain);
    return sentAgain ? std::string() : again.reason();
}

} // namespace bsmtp
