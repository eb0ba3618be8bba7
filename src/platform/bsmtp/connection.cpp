#include "connection.h"

#include "knownservers.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <mutex>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bsmtp {

const Leads kSmtpLeads {
    "SMTPサーバーに接続できません。",         "SMTPサーバーから応答がありません。",
    "SMTPサーバーと暗号化通信ができません。", "SMTP認証に失敗しました。",
    "SMTPサーバーが送信を拒否しました。",     "SMTPサーバーの応答が正しくありません。",
    "SMTPサーバーとの接続が切れました。",     "STARTTLS"
};
const Leads kPop3Leads {
    "POP3サーバーに接続できません。",         "POP3サーバーから応答がありません。",
    "POP3サーバーと暗号化通信ができません。", "POP3サーバーにログインできません。",
    "POP3サーバーがエラーを返しました。",     "POP3サーバーの応答が正しくありません。",
    "POP3サーバーとの接続が切れました。",     "STLS"
};

namespace {

// Far longer than any reply line a server sends (at most 512 bytes by the
// rules), short enough that an endless line ends at once.
const size_t kMaxLine = 8192;

// The wait for the reply after the last byte includes the time the line
// needs to carry what still sits in our socket buffer. Left to autotuning
// that buffer may grow to megabytes, more than a slow line carries within
// the time-out; 512 KiB (Linux doubles it) still fills fast lines.
int LimitSendBuffer(void *, curl_socket_t socket, curlsocktype purpose)
{
    if (purpose == CURLSOCKTYPE_IPCXN) {
        const int size = 512 * 1024;
        ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    return CURL_SOCKOPT_OK;
}

// A program started meanwhile (by the caller, on another thread) does not
// inherit the connection.
curl_socket_t OpenCloseOnExec(void *, curlsocktype, curl_sockaddr *address)
{
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// TLS after STARTTLS: a second handle speaks it over the socket that the
// first one connected (a copy of the descriptor, which that handle closes).
curl_socket_t SameSocket(void *socket, curlsocktype, curl_sockaddr *)
{
    return ::fcntl(*static_cast<curl_socket_t *>(socket), F_DUPFD_CLOEXEC, 0);
}

int AlreadyConnected(void *, curl_socket_t, curlsocktype)
{
    return CURL_SOCKOPT_ALREADY_CONNECTED;
}

// A handle that only connects. The scheme chooses what curl does once the
// socket is up: nothing for http, the handshake alone for https (smtp://
// would run the greeting, EHLO and sign-in itself, all within one time-out).
CURL *ConnectOnly(const std::string &url, long timeoutSeconds, char *error)
{
    CURL *curl = curl_easy_init();
    if (!curl)
        return nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECT_ONLY, 1L);
    // A web proxy of the environment is no way to a mail server.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    return curl;
}

} // namespace

Connection::Connection(const Server &server, const Leads &leads, const TrustRules *rules)
    : server_(server)
    , leads_(leads)
    , rules_(rules)
    , known_(rules ? rules->knownServers : std::string())
    , key_(ServerKey(server.host, server.port))
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Connection::~Connection()
{
    if (tls_)
        curl_easy_cleanup(tls_);
    if (plain_)
        curl_easy_cleanup(plain_);
}

std::string Connection::Where() const
{
    return server_.host + " のポート " + std::to_string(server_.port);
}

bool Connection::Fail(const std::string &reason)
{
    reason_ = reason;
    return false;
}

bool Connection::Break(const std::string &reason)
{
    broken_ = true;
    return Fail(reason);
}

std::string Connection::Shown(const std::string &line)
{
    const size_t limit = 512;
    std::string shown;
    for (const char c : line.substr(0, limit))
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    return line.size() > limit ? shown + "…" : shown;
}

std::string Connection::Url(const char *scheme) const
{
    return std::string(scheme) + "://" + BracketedHost(server_.host) + ":"
           + std::to_string(server_.port) + "/";
}

bool Connection::Open(bool tls)
{
    tlsFromTheStart_ = tls;
    // What is not known for sure is not taken as nothing known.
    std::string reason;
    if (rules_ && !known_.Load(reason))
        return Break(reason);
    if (rules_ && rules_->tell) {
        for (const std::string &problem : known_.problems())
            rules_->tell(problem);
    }
    if (rules_ && known_.Unclear(key_))
        return Break(known_.path() + " に " + key_
                     + " の読み取れない行があるため、送信を中止しました。その行を直してください。");
    plain_ = ConnectOnly(Url("http"), server_.timeoutSeconds, error_);
    if (!plain_)
        return Break(std::string(leads_.connect) + "curl_easy_init");
    curl_easy_setopt(plain_, CURLOPT_SOCKOPTFUNCTION, &LimitSendBuffer);
    curl_easy_setopt(plain_, CURLOPT_OPENSOCKETFUNCTION, &OpenCloseOnExec);
    const CURLcode code = curl_easy_perform(plain_);
    if (code != CURLE_OK)
        return Break(ConnectFailure(code, plain_));
    curl_easy_getinfo(plain_, CURLINFO_ACTIVESOCKET, &socket_);
    if (tls && !StartTls())
        return false;
    StartWait("接続後の最初の応答");
    return true;
}

bool Connection::StartTls()
{
    // Bytes that came before the handshake were not protected by it.
    if (Unasked("暗号化を始める前に"))
        return false;
    tls_ = ConnectOnly(Url("https"), server_.timeoutSeconds, error_);
    if (!tls_)
        return Break(std::string(leads_.tls) + "curl_easy_init");
    curl_easy_setopt(tls_, CURLOPT_OPENSOCKETFUNCTION, &SameSocket);
    curl_easy_setopt(tls_, CURLOPT_OPENSOCKETDATA, &socket_);
    curl_easy_setopt(tls_, CURLOPT_SOCKOPTFUNCTION, &AlreadyConnected);
    // With trust rules the certificate is judged after the handshake, where
    // it can still be shown, compared with a stored key or accepted.
    curl_easy_setopt(tls_, CURLOPT_SSL_VERIFYPEER, rules_ ? 0L : 1L);
    curl_easy_setopt(tls_, CURLOPT_SSL_VERIFYHOST, rules_ ? 0L : 2L);
    curl_easy_setopt(tls_, CURLOPT_CERTINFO, rules_ ? 1L : 0L);
    curl_easy_setopt(tls_, CURLOPT_SSL_ENABLE_ALPN, 0L);
    // The name stays the one checked against the certificate; the address
    // is the one already connected, so nothing is looked up again.
    curl_slist *resolve = nullptr;
    char *ip = nullptr;
    if (!IsAddress(server_.host) && curl_easy_getinfo(plain_, CURLINFO_PRIMARY_IP, &ip) == CURLE_OK
        && ip) {
        resolve = curl_slist_append(
            nullptr,
            (server_.host + ":" + std::to_string(server_.port) + ":" + BracketedHost(ip)).c_str());
        curl_easy_setopt(tls_, CURLOPT_RESOLVE, resolve);
    }
    error_[0] = '\0';
    const CURLcode code = curl_easy_perform(tls_);
    curl_easy_setopt(tls_, CURLOPT_RESOLVE, nullptr);
    curl_slist_free_all(resolve);
    if (code != CURLE_OK) {
        retryWithoutTls_
            = rules_ && DecideTrust(Facts(Tls::Failed, {})) == TrustVerdict::RetryWithoutTls;
        return Break(TlsFailure(code));
    }
    return !rules_ || Trusted();
}

TrustFacts Connection::Facts(Tls tls, const std::string &pin) const
{
    TrustFacts facts;
    facts.secret = secret_;
    facts.tlsChosen = tlsFromTheStart_;
    facts.tls = tls;
    const std::vector<std::string> pins = known_.Pins(key_);
    facts.pin = pins.empty()
                    ? Pin::None
                    : (std::find(pins.begin(), pins.end(), pin) != pins.end() ? Pin::Match
                                                                              : Pin::Mismatch);
    facts.recordedTls = known_.OfferedTls(key_);
    facts.plainAllowed = known_.PlainAllowed(key_);
    return facts;
}

// Stores a line; one that cannot be stored is told, and this send goes on.
void Connection::Remember(const std::string &line)
{
    std::string reason;
    if (!known_.Add(line, reason) && rules_->tell)
        rules_->tell("送信は続けますが、次の行を " + known_.path()
                     + " に記録できませんでした。次回も同じ確認をします(" + reason + "):\r\n"
                     + line);
}

// The lines that make the file insist on TLS for this server.
std::string Connection::KnownLines() const
{
    std::string lines;
    if (known_.OfferedTls(key_))
        lines += key_ + " starttls\r\n";
    for (const std::string &pin : known_.Pins(key_))
        lines += key_ + " " + pin + "\r\n";
    return lines;
}

// A refusal ends with the line that would change it, on a line of its own,
// so that whatever the caller adds to the text does not stick to it.
bool Connection::Trusted()
{
    const std::string lead = leads_.tls;
    Certificate certificate;
    std::string reason;
    if (!ReadCertificate(tls_, server_.host, certificate, reason))
        return Break(lead + Where() + " の" + reason);
    const Tls tls = certificate.verifyResult == X509_V_OK
                        ? Tls::Verified
                        : (IsTooWeak(certificate.verifyResult) ? Tls::Weak : Tls::Unverified);
    const TrustFacts facts = Facts(tls, certificate.pin);
    const std::string line = key_ + " " + certificate.pin;
    switch (DecideTrust(facts)) {
    case TrustVerdict::Go:
        break;
    case TrustVerdict::AskCertificate:
        if (!rules_->ask || !rules_->ask(key_, certificate))
            return Break(
                lead + Where() + " のサーバー証明書は信頼されていないため、接続を中止しました。"
                + certificate.problem
                + "証明書が正しいことをサーバーの管理者に確かめたうえで、次の行を " + known_.path()
                + " に加えると、このサーバーを信頼します:\r\n" + line + "\r\n");
        // Trusted for this submission even when it cannot be stored.
        Remember(line);
        trustedByUser_ = true;
        break;
    case TrustVerdict::TooWeak:
        return Break(lead + Where()
                     + " のサーバー証明書は受け入れられないため、接続を中止しました。"
                     + certificate.problem + "サーバーの管理者に証明書の更新を依頼してください。");
    default: // ChangedKey: no other verdict follows a handshake
        return Break(
            lead + Where() + " のサーバー証明書の公開鍵が、" + known_.path()
            + " に記録されたものと違います。サーバーが証明書を替えたのでなければ、"
              "通信が横取りされているおそれがあるため、接続を中止しました。"
            + "新しい証明書が正しいことをサーバーの管理者に確かめた場合は、そのファイルから " + key_
            + " の sha256// で始まる鍵の行を消し(" + key_
            + " starttls の行は残します)、次の行を加えてください:\r\n" + line + "\r\n");
    }
    // From now on this server is held to TLS.
    if (!facts.tlsChosen && !facts.recordedTls)
        Remember(key_ + " starttls");
    return true;
}

bool Connection::PlainAllowed()
{
    if (!rules_ || secure())
        return true;
    const TrustFacts facts = Facts(Tls::None, {});
    const std::string lead = leads_.tls;
    const std::string word = leads_.startTls;
    const std::string allow = key_ + " no-tls";
    switch (DecideTrust(facts)) {
    case TrustVerdict::Go:
        return true;
    case TrustVerdict::AskPlain:
        if (rules_->askPlain
            && rules_->askPlain(key_, "暗号化しないと、途中の経路でパスワードを読み取られる"
                                      "おそれがあります。")) {
            Remember(allow);
            trustedByUser_ = true;
            return true;
        }
        return Fail(lead + Where() + " は暗号化通信(" + word
                    + ")に対応していないため、パスワードを送らずに中止しました。"
                      "暗号化せずに送ってよいことをサーバーの管理者に確かめたうえで、次の行を "
                    + known_.path()
                    + " に加えると、このサーバーにはパスワードを暗号化せずに送ります:\r\n" + allow
                    + "\r\n");
    default: // Downgrade
        return Break(
            lead + Where()
            + (facts.recordedTls ? " は以前に暗号化通信(" + word + ")ができたサーバーです"
                                 : " は公開鍵が " + known_.path() + " に記録されたサーバーです")
            + "が、今回は暗号化できません。通信が妨害されているおそれがあるため、"
            + (secret_ ? "パスワード" : "メール")
            + "を送らずに中止しました。サーバーが暗号化をやめたことを管理者に確かめた場合は、"
            + known_.path() + " から次の行を消してください:\r\n" + KnownLines());
    }
}

std::string Connection::ConnectFailure(CURLcode code, CURL *curl) const
{
    const std::string lead = leads_.connect;
    const std::string detail = error_[0] ? error_ : curl_easy_strerror(code);
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return lead + "サーバー名 " + server_.host + " が見つかりません(ポート "
               + std::to_string(server_.port)
               + ")。サーバー名の綴りとネットワークの接続を確かめてください。";
    case CURLE_COULDNT_CONNECT: {
        long error = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &error);
        if (error == ECONNREFUSED)
            return lead + Where()
                   + " への接続が拒否されました。サーバー名とポート番号を確かめてください。";
        return lead + Where() + " に接続できません。ネットワークの接続を確かめてください。("
               + detail + ")";
    }
    case CURLE_OPERATION_TIMEDOUT:
        return lead + Where() + " から " + std::to_string(server_.timeoutSeconds)
               + " 秒以内に応答がなく、接続できませんでした。";
    default:
        return lead + detail;
    }
}

std::string Connection::TlsFailure(CURLcode code) const
{
    const std::string lead = leads_.tls;
    const std::string detail
        = std::string("(") + (error_[0] ? error_ : curl_easy_strerror(code)) + ")";
    if (code != CURLE_PEER_FAILED_VERIFICATION)
        return lead + Where() + " と暗号化通信を始められません。" + detail;
    long result = X509_V_OK;
    curl_easy_getinfo(tls_, CURLINFO_SSL_VERIFYRESULT, &result);
    switch (result) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return lead + Where()
               + " のサーバー証明書は、このコンピューターが信頼する認証局のものではありません。"
                 "社内の認証局を使っている場合は、その認証局の証明書をシステムの証明書ストアに"
                 "追加してください(/usr/local/share/ca-certificates "
                 "に置き、update-ca-certificates を実行します)。"
               + detail;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return lead + Where()
               + " のサーバー証明書は有効期間の外にあります。このコンピューターの日付と時刻を"
                 "確かめ、正しければサーバーの管理者に知らせてください。"
               + detail;
    default: // a name that the certificate does not hold, among others
        return lead + Where()
               + " のサーバー証明書を確かめられません。証明書にあるサーバー名を設定しているか"
                 "確かめてください。"
               + detail;
    }
}

bool Connection::Broken(CURLcode code)
{
    closed_ = true;
    return Break(std::string(leads_.closed) + "("
                 + (error_[0] ? std::string(error_) : curl_easy_strerror(code)) + ")");
}

void Connection::StartWait(const std::string &what)
{
    deadline_ = Clock::now() + std::chrono::seconds(server_.timeoutSeconds);
    waitingFor_ = what;
}

bool Connection::Wait(short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left
            = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd watched { socket_, events, 0 };
        const int ready = ::poll(&watched, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        // An error on the socket is for the next send or receive to tell.
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return true;
    }
}

bool Connection::Send(std::string_view bytes)
{
    CURL *curl = tls_ ? tls_ : plain_;
    size_t done = 0;
    // A stall is bounded, not the whole: a large report on a slow line goes.
    auto deadline = Clock::now() + std::chrono::seconds(server_.timeoutSeconds);
    while (done < bytes.size()) {
        size_t count = 0;
        error_[0] = '\0';
        const CURLcode code
            = curl_easy_send(curl, bytes.data() + done, bytes.size() - done, &count);
        if (code == CURLE_OK) {
            done += count;
            deadline = Clock::now() + std::chrono::seconds(server_.timeoutSeconds);
        } else if (code != CURLE_AGAIN) {
            return Broken(code);
        } else if (!Wait(POLLOUT, deadline)) {
            return Break(std::string(leads_.silent) + Where() + " が "
                         + std::to_string(server_.timeoutSeconds)
                         + " 秒のあいだデータを受け取りませんでした。");
        }
    }
    return true;
}

bool Connection::Receive()
{
    CURL *curl = tls_ ? tls_ : plain_;
    char chunk[16384];
    for (;;) {
        size_t count = 0;
        error_[0] = '\0';
        const CURLcode code = curl_easy_recv(curl, chunk, sizeof chunk, &count);
        if (code == CURLE_OK && count > 0) {
            buffer_.append(chunk, count);
            return true;
        }
        if (code == CURLE_OK) {
            closed_ = true;
            return Break(std::string(leads_.closed) + waitingFor_ + "を待っていました。");
        }
        if (code != CURLE_AGAIN)
            return Broken(code);
        if (!Wait(POLLIN, deadline_))
            return Break(std::string(leads_.silent) + Where() + " から "
                         + std::to_string(server_.timeoutSeconds) + " 秒以内に" + waitingFor_
                         + "がありませんでした。");
    }
}

// Whether the server has sent anything that nothing asked for yet (or has
// closed); the reason then tells. A notice that the server gives up (4xx,
// 5xx, -ERR) is shown as its refusal; anything else is out of order.
bool Connection::Unasked(const char *before)
{
    if (buffer_.empty() && !closed_) {
        char chunk[4096];
        size_t count = 0;
        error_[0] = '\0';
        const CURLcode code = curl_easy_recv(tls_ ? tls_ : plain_, chunk, sizeof chunk, &count);
        if (code == CURLE_AGAIN)
            return false;
        if (code != CURLE_OK)
            return !Broken(code);
        if (count == 0) {
            closed_ = true;
            return !Break(leads_.closed);
        }
        buffer_.append(chunk, count);
    }
    if (buffer_.empty())
        return !Break(leads_.closed);
    std::string line = buffer_.substr(0, buffer_.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line[0] == '4' || line[0] == '5' || line.compare(0, 4, "-ERR") == 0)
        return !Break(leads_.refused + Shown(line));
    return !Break(std::string(leads_.broken) + before + "応答が届きました: " + Shown(line));
}

bool Connection::Command(const std::string &line, const std::string &label)
{
    const std::string name = label.empty() ? line.substr(0, line.find(' ')) : label;
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return Fail("改行などの制御文字を含むため送れません: " + name);
    if (Unasked("コマンドを送る前に") || !Send(line + "\r\n"))
        return false;
    StartWait("「" + name + "」への応答");
    return true;
}

bool Connection::SendData(std::string_view bytes, bool last)
{
    if (Unasked("メールを送り終える前に") || !Send(bytes))
        return false;
    if (last)
        StartWait("メールの終わりへの応答");
    return true;
}

void Connection::Close(const std::string &command)
{
    const std::string reason = reason_;
    std::string line;
    if (!broken_ && !closed_ && Command(command)) {
        // The mail is sent or refused already: no long wait for good manners.
        deadline_ = std::min(deadline_, Clock::now() + std::chrono::seconds(2));
        ReadLine(line);
    }
    reason_ = reason;
}

bool Connection::ReadLine(std::string &line)
{
    for (;;) {
        const size_t end = buffer_.find('\n');
        if (end > kMaxLine && buffer_.size() > kMaxLine)
            return Break(std::string(leads_.broken) + "応答の行が長すぎます("
                         + std::to_string(kMaxLine) + " バイトを超えています)。");
        if (end != std::string::npos) {
            line = buffer_.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            buffer_.erase(0, end + 1);
            return true;
        }
        if (!Receive())
            return false;
    }
}

std::string Connection::localAddress() const
{
    char *ip = nullptr;
    if (!plain_ || curl_easy_getinfo(plain_, CURLINFO_LOCAL_IP, &ip) != CURLE_OK || !ip)
        return {};
    return ip;
}

} // namespace bsmtp
