/*
 * libbsmtp.so: submits one mail by SMTP and signs in to a POP3 mailbox.
 *
 * Every text is UTF-8 and NUL-terminated. A text that the library returns is
 * allocated by the library and must be released with BsmtpFree (never with
 * the caller's free: the two sides may use different allocators).
 *
 * The functions block until the exchange ends. They may be called from any
 * thread, one call at a time per thread. The program calls BsmtpSubmit;
 * SendMail and RcvMail keep the argument strings of the Windows library.
 */
#ifndef KESTLIN_BSMTP_H
#define KESTLIN_BSMTP_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define BSMTP_API __attribute__((visibility("default")))
#else
#define BSMTP_API
#endif

/*
 * Told how far the message has gone.
 *
 * sent     bytes of the message handed to the connection so far.
 * total    the size of the whole message: every byte from the first header
 *          line to the closing boundary line, its attachments in base64.
 *          This is the message as the receiving server stores it; the
 *          protocol's own framing (the doubled dots at line starts and the
 *          final "." line) is not counted. It is worked out before the first
 *          byte goes and is exact as long as no attachment file changes size
 *          during the call; should one change, the last call reports the
 *          bytes actually sent as both figures.
 *
 * The first call, (0, total), comes when the server has accepted the
 * sender and recipients and the message starts; then at most 99 calls as it
 * goes, each at least a hundredth of the total after the one before and
 * with sent < total; then, only when the server has accepted the whole
 * message, one last call with sent == total. A failure ends the calls
 * without that last one. The calls come from the calling thread, within
 * BsmtpSubmit; they should return quickly, as the transfer waits.
 */
typedef void (*BsmtpProgress)(void *context, int64_t sent, int64_t total);

/* What a call of BsmtpTrust is about (BsmtpCertificate.kind). */
#define BSMTP_ASK_CERTIFICATE 0 /* trust this certificate? */
#define BSMTP_ASK_PLAIN 1 /* send the password in clear to a server without TLS? */
#define BSMTP_NOTICE 2 /* only told, the answer is ignored: problem holds the text */

/*
 * A question for the user (or a notice), as the user is shown it before
 * deciding. Every text is UTF-8, never NULL ("" where it does not apply),
 * and lives only during the call that hands it over.
 */
typedef struct BsmtpCertificate
{
    const char *server; /* "host:port" as known-servers.txt names it */
    const char *subject; /* the certificate's subject and issuer, RFC 2253 */
    const char *issuer;
    const char *validFrom; /* "YYYY/MM/DD HH:MM:SS UTC" */
    const char *validUntil;
    const char *fingerprint; /* SHA-256 of the certificate, "AB:CD:..." */
    const char *problem; /* why it is asked (or the notice): Japanese sentences */
    const char *line; /* the line of known-servers.txt that a yes stores */
    int kind; /* BSMTP_ASK_CERTIFICATE, BSMTP_ASK_PLAIN or BSMTP_NOTICE */
} BsmtpCertificate;

/*
 * Asked whether to trust a certificate, or to send a password in clear;
 * nonzero: yes. Called from the calling thread within the call, while the
 * server waits.
 */
typedef int (*BsmtpTrust)(void *context, const BsmtpCertificate *certificate);

/* How the sender signs in; the numbers are those of the settings. */
#define BSMTP_SIGN_IN_NONE 0
#define BSMTP_SIGN_IN_POP_BEFORE_SMTP 1 /* POP3 USER/PASS and STAT first */
#define BSMTP_SIGN_IN_LOGIN 2
#define BSMTP_SIGN_IN_CRAM_MD5 3
#define BSMTP_SIGN_IN_PLAIN 4
/* An OAuth 2.0 access token as the password: SASL XOAUTH2 where the server
 * offers it, else OAUTHBEARER (RFC 7628), else nothing is sent. */
#define BSMTP_SIGN_IN_BEARER 5

/* What became of the message. */
#define BSMTP_NOT_SENT 0 /* the server has not got it, or refused it */
#define BSMTP_ACCEPTED 1 /* the server accepted it after its last byte */
/* Its last byte went but no reply to it came (a dropped connection, the
 * time-out, a reply that makes no sense): the server may have it. */
#define BSMTP_UNKNOWN 2

/* Where a failure happened. */
#define BSMTP_FAILED_NOWHERE 0
#define BSMTP_FAILED_IN_POP3 1 /* the POP3 sign-in of POP before SMTP */
#define BSMTP_FAILED_IN_SMTP 2 /* anything else */

/*
 * One submission. Fill it with zeros, set size to sizeof(BsmtpSubmission)
 * and the fields needed; a field left zero (NULL) takes its default. Fields
 * added in later versions go at the end: the library reads only the first
 * size bytes and takes the rest as zero, so that a caller built against an
 * older header keeps working.
 *
 * Texts are UTF-8, NUL-terminated, and are only read during the call.
 */
typedef struct BsmtpSubmission
{
    size_t size;

    /* The SMTP server: a host name, an IPv4 address or an IPv6 address
     * (brackets optional), nothing else. Port 0 means 25; port 465 speaks TLS from the start,
     * any other port switches to TLS with STARTTLS whenever the server offers
     * it. The time-out, in seconds (0: 120), bounds each wait on its own: the
     * connection (name, TCP, TLS handshake), each reply (counted from the end
     * of what asked for it: the connection, the command, the last byte of the
     * message) and any stall while the message goes; never the whole
     * exchange, so a slow server that answers every wait in time is served. */
    const char *host;
    int port;
    int timeoutSeconds;

    /* The envelope and the message. Addresses are bare (no angle brackets);
     * each list holds addresses separated by TAB, empty entries are skipped,
     * and at least one of them must hold one. bcc reaches only the envelope. */
    const char *from;
    const char *to;
    const char *cc;
    const char *bcc;
    const char *subject;
    const char *body; /* line ends become CR LF */
    /* Attachment entries separated by TAB, each "path|name|type"; name and
     * type may be left out (the file's own name, application/octet-stream). */
    const char *files;

    /* The sign-in (BSMTP_SIGN_IN_*). With a method the mail is submitted only
     * after that very sign-in succeeded; when the server does not offer it,
     * nothing is submitted. password is the access token for
     * BSMTP_SIGN_IN_BEARER. */
    int signIn;
    const char *user;
    const char *password;

    /* POP before SMTP: the POP3 server (NULL or empty: host) and its port (0: 110;
     * 995 speaks TLS from the start, other ports use STLS when offered).
     * Signs in with USER and PASS and runs STAT; the time-out is the one
     * above. */
    const char *pop3Host;
    int pop3Port;

    /* The path of known-servers.txt, and who is asked (trust may be NULL:
     * refused). NULL path: certificates are checked against the system's
     * trust store only, and a password goes without TLS to a server that
     * offers none.
     *
     * What may go where is decided for each connection from what the file
     * knows of "host:port" (the host in lower case, without a final dot, an
     * IPv6 address in its canonical form):
     * - A stored key decides alone: a certificate with another key is
     *   refused, with or without a sign-in, and trust is not asked.
     * - A server recorded with "starttls", or with a stored key, never gets
     *   the mail or a password without TLS: an offer struck out, a refused
     *   STARTTLS or a failed handshake are refused.
     * - Otherwise, with a sign-in (POP3 included) or on port 465, the
     *   certificate must be one the system accepts for the host (its store
     *   and its OpenSSL security level), or one that trust accepts
     *   (BSMTP_ASK_CERTIFICATE): its key is then stored. Without a sign-in
     *   any certificate will do; should the handshake itself fail (an old
     *   server), the mail goes again on a new connection without TLS.
     * - A sign-in to a server that offers no TLS is asked about
     *   (BSMTP_ASK_PLAIN) unless the file has "host:port no-tls"; a yes
     *   stores that line.
     * Once TLS worked with a server, "starttls" is stored for it. Should the
     * server go while the user is asked, the exchange starts once more
     * without asking. An existing file that cannot be read stops the call;
     * lines not understood and lines that cannot be stored are told through
     * trust as BSMTP_NOTICE, and a line not understood that names the server
     * stops the call. A refusal names the file and ends with the line that
     * would change the decision, on a line of its own followed by CR LF.
     *
     * known-servers.txt, one server a line (CR LF or LF; blank lines and
     * lines starting with "#" are skipped, and every line is kept when one is
     * added; the file is written under a lock on "known-servers.txt.lock"
     * beside it, replaced whole, through a symbolic link, mode 0600 when
     * new):
     *   host:port sha256//<Base64 of the SHA-256 of the public key>
     *   host:port starttls
     *   host:port no-tls */
    const char *knownServers;
    BsmtpTrust trust;
    void *trustContext;

    /* Told how far the message has gone (may be NULL). */
    BsmtpProgress progress;
    void *progressContext;

    /* Out: set by every call. result is "" when the server accepted the mail
     * (a positive reply to the end of the message, received after its last
     * byte was sent), else the reason: a short Japanese lead, then the
     * server's reply line as it came, or a Japanese description naming the
     * host and port (refused, unknown host, time-out, untrusted certificate
     * with what to do), with the network library's own words in parentheses
     * where they help. A reply that arrives before its command (or before the
     * end of the message) is a protocol error, and so are malformed replies,
     * a line over 8 KiB and a reply over 64 KiB. Release it with BsmtpFree;
     * NULL only when no memory was left for it. delivery is BSMTP_NOT_SENT,
     * BSMTP_ACCEPTED or BSMTP_UNKNOWN; failedIn a BSMTP_FAILED_* value. */
    char *result;
    int delivery;
    int failedIn;
} BsmtpSubmission;

/*
 * Submits one mail as the submission says, after the POP3 sign-in of POP
 * before SMTP when that is the method. Blocks until the exchange ends.
 * Returns nonzero when the server accepted the mail (delivery is then
 * BSMTP_ACCEPTED), 0 otherwise; 0 without touching anything when submission
 * is NULL or its size is too small to hold the out fields.
 */
BSMTP_API int BsmtpSubmit(BsmtpSubmission *submission);

/*
 * The entry points of the Windows library this one stands in for, with its
 * argument strings; SendMail submits through BsmtpSubmit (with the system's
 * trust store only).
 *
 * SendMail: server "host" TAB "port" TAB "time-out" (port empty: 25; time-out
 * empty or 0: 120); to "<" recipients ">": addresses separated by TAB, the
 * word "cc" or "bcc" between two TABs making the addresses after it copies or
 * blind copies; from "<" sender ">", optionally followed by TAB
 * "user:password" TAB and the method "LOGIN", "CRAM-MD5" or "PLAIN"; subject,
 * body and files as in BsmtpSubmission. Returns the result text of
 * BsmtpSubmit, to release with BsmtpFree.
 */
BSMTP_API char *SendMail(const char *server, const char *to, const char *from, const char *subject,
                         const char *body, const char *files);

/*
 * RcvMail: signs in to a POP3 mailbox and runs one command, for POP before
 * SMTP. server "host" TAB "port" [TAB "time-out"] (port empty: 110); command
 * "STAT" (the only command this library runs); folder, where received mail
 * would be stored, is not touched. Every answer must be the status "+OK"
 * followed by a space or the line end ("+OKAY" is a refusal). Returns 1 when
 * the sign-in and the command succeeded, 0 otherwise. When result is not
 * NULL, *result receives a text to release with BsmtpFree: on success the
 * server's answer to the command (for STAT "+OK <count> <size>"), on failure
 * the reason, with the server's own reply line where it gave one.
 */
BSMTP_API int RcvMail(const char *server, const char *user, const char *password,
                      const char *command, const char *folder, char **result);

/*
 * Checks the known-servers.txt at path as BsmtpSubmit reads it: 1 when it is
 * missing or every line is understood; 0 otherwise, with *result (to release
 * with BsmtpFree) the reasons, one a line ended by LF.
 */
BSMTP_API int BsmtpCheckKnownServers(const char *path, char **result);

/* Releases a text returned by this library; NULL is ignored. */
BSMTP_API void BsmtpFree(char *text);

#ifdef __cplusplus
}
#endif

#endif
