#include "smtp.h"

#include "transfer.h"

#include <cctype>
#include <unistd.h>

namespace bsmtp {

namespace {

// The short leads of the failure texts, one set per protocol.
struct Leads
{
    const char *connect, *silent, *tls, *auth, *refused;
};
const Leads kSmtp { "SMTPサーバーに接続できません。", "SMTPサーバーから応答がありません。",
                    "SMTPサーバーと暗号化通信ができません。", "SMTP認証に失敗しました。",
                    "SMTPサーバーが送信を拒否しました。" };
const Leads kPop3 { "POP3サーバーに接続できません。", "POP3サーバーから応答がありません。",
                    "POP3サーバーと暗号化通信ができません。", "POP3サーバーにログインできません。",
                    "POP3サーバーがエラーを返しました。" };

// The name we greet with; the URL's path is what curl says after EHLO.
std::string OwnName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0])
        return "localhost";
    for (const char *c = name; *c; ++c) {
        if (!std::isalnum(static_cast<unsigned char>(*c)) && *c != '.' && *c != '-')
            return "localhost";
    }
    return name;
}

bool IsTlsFailure(CURLcode code)
{
    return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CONNECT_ERROR
           || code == CURLE_SSL_CACERT_BADFILE || code == CURLE_SSL_CERTPROBLEM
           || code == CURLE_USE_SSL_FAILED;
}

// What the user reads: a short lead and what the server or curl said.
std::string Explain(const Transfer &transfer, CURLcode code, const Leads &leads)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return leads.connect + transfer.Describe(code);
    case CURLE_OPERATION_TIMEDOUT:
        return leads.silent + transfer.Describe(code);
    case CURLE_LOGIN_DENIED:
        return leads.auth + transfer.talk().lastRefusal;
    default:
        break;
    }
    if (IsTlsFailure(code))
        return leads.tls + transfer.Describe(code);
    // After a refusal curl still says QUIT: the refusal is what counts.
    const std::string &refusal = transfer.talk().lastRefusal;
    return leads.refused + (refusal.empty() ? transfer.Describe(code) : refusal);
}

std::string Mechanisms(const ServerTalk &talk)
{
    std::string list;
    for (const std::string &mechanism : talk.mechanisms)
        list += (list.empty() ? "" : " ") + mechanism;
    return list;
}

// Before the message goes anywhere: the sign-in the settings ask for is on
// offer and succeeded. curl alone would submit without signing in when the
// server offers no AUTH at all.
std::string CheckSignIn(const Sender &sender, const ServerTalk &talk)
{
    if (sender.method.empty())
        return {};
    if (!talk.authOffered)
        return std::string(kSmtp.auth) + "SMTPサーバーがSMTP認証(AUTH)に対応していません。";
    if (!talk.mechanisms.count(sender.method))
        return std::string(kSmtp.auth) + "SMTPサーバーが認証方式 " + sender.method
               + " に対応していません。(対応: " + Mechanisms(talk) + ")";
    if (!talk.signedIn)
        return std::string(kSmtp.auth) + talk.lastRefusal;
    return {};
}

struct Upload
{
    MessageSource *message;
    const Sender *sender;
    const ServerTalk *talk;
    ProgressPacer *pacer;
    std::string reason;
};

size_t ReadMessage(char *buffer, size_t size, size_t count, void *data)
{
    auto *upload = static_cast<Upload *>(data);
    // Should curl have opened a new connection for the message, the
    // sign-in must have happened on that one too.
    const std::string refusal = CheckSignIn(*upload->sender, *upload->talk);
    if (!refusal.empty()) {
        upload->reason = refusal;
        return CURL_READFUNC_ABORT;
    }
    // curl asks for the message only once the server took the envelope.
    upload->pacer->Start();
    size_t length = 0;
    if (!upload->message->Read(buffer, size * count, length)) {
        upload->reason = upload->message->reason();
        return CURL_READFUNC_ABORT;
    }
    upload->pacer->Advance(static_cast<int64_t>(length));
    return length;
}

} // namespace

std::string Submit(const Server &server, const Sender &sender, const Recipients &recipients,
                   MessageSource &message, const ProgressPacer::Report &report)
{
    Transfer transfer("smtp", 465, server, OwnName());
    CURL *curl = transfer.handle();
    if (!curl)
        return std::string(kSmtp.connect) + "curl_easy_init";
    if (!sender.method.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, sender.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, sender.password.c_str());
        // Exactly this mechanism; curl tries no other.
        const std::string options = "AUTH=" + sender.method;
        curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, options.c_str());
        curl_easy_setopt(curl, CURLOPT_SASL_IR, sender.method == "PLAIN" ? 1L : 0L);
    }

    // First only greet, sign in and NOOP on the connection, so that a
    // missing sign-in is found before any address or byte of the message is
    // sent; the message then goes over the same connection.
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "NOOP");
    CURLcode code = curl_easy_perform(curl);
    const std::string refusal = CheckSignIn(sender, transfer.talk());
    if (!refusal.empty() && (code == CURLE_OK || code == CURLE_LOGIN_DENIED))
        return refusal;
    if (code != CURLE_OK)
        return Explain(transfer, code, kSmtp);

    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
    const std::string from = "<" + sender.address + ">";
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
    curl_slist *rcpt = nullptr;
    for (const auto *list : { &recipients.to, &recipients.cc, &recipients.bcc }) {
        for (const std::string &address : *list)
            rcpt = curl_slist_append(rcpt, ("<" + address + ">").c_str());
    }
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
    ProgressPacer pacer(report, message.Size());
    Upload upload { &message, &sender, &transfer.talk(), &pacer, {} };
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    // Fewer, larger writes: the attachment is the bulk of the message.
    curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadMessage);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, nullptr);
    curl_slist_free_all(rcpt);
    if (!upload.reason.empty())
        return upload.reason;
    if (code != CURLE_OK)
        return Explain(transfer, code, kSmtp);
    pacer.Finish();
    return {};
}

bool Pop3Command(const Server &server, const std::string &user, const std::string &password,
                 const std::string &command, std::string &answer)
{
    Transfer transfer("pop3", 995, server, "");
    CURL *curl = transfer.handle();
    if (!curl) {
        answer = std::string(kPop3.connect) + "curl_easy_init";
        return false;
    }
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, command.c_str());
    // STAT answers in one line; without this curl would wait for a list.
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    const CURLcode code = curl_easy_perform(curl);
    if (code != CURLE_OK) {
        answer = Explain(transfer, code, kPop3);
        return false;
    }
    answer = transfer.talk().lastReply;
    return true;
}

} // namespace bsmtp
