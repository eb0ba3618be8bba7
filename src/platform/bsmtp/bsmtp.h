/*
 * libbsmtp.so: submits one mail by SMTP and signs in to a POP3 mailbox.
 *
 * Every text is UTF-8 and NUL-terminated. A text that the library returns is
 * allocated by the library and must be released with BsmtpFree (never with
 * the caller's free: the two sides may use different allocators).
 *
 * The functions block until the exchange ends. They may be called from any
 * thread, one call at a time per thread.
 */
#ifndef KESTLIN_BSMTP_H
#define KESTLIN_BSMTP_H

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
 * Submits one mail.
 *
 * server   "host" TAB "port" TAB "time-out": host a host name, an IPv4
 *          address or an IPv6 address (brackets optional), nothing else;
 *          port empty means 25; port 465
 *          speaks TLS from the start, any other port switches to TLS with
 *          STARTTLS whenever the server offers it. The server certificate is
 *          checked against the system's trust store. The time-out, in
 *          seconds (empty or 0: 120), bounds each wait on its own: the
 *          connection (name, TCP, TLS handshake), each reply (counted from
 *          the end of what asked for it: the connection, the command, the
 *          last byte of the message) and any stall while the message goes;
 *          never the whole exchange, so a slow server that answers every
 *          wait in time is served.
 * to       "<" recipients ">": addresses separated by TAB; the word "cc" or
 *          "bcc" between two TABs makes the addresses after it copies or blind
 *          copies. Empty entries are skipped.
 * from     "<" sender ">", optionally followed by TAB "user:password" TAB and
 *          the sign-in method "LOGIN", "CRAM-MD5" or "PLAIN". With a method
 *          the mail is submitted only after that very sign-in succeeded;
 *          when the server does not offer it, nothing is submitted.
 * subject  the subject line.
 * body     the body text; line ends become CR LF.
 * files    attachment entries separated by TAB, each "path|name|type"; name
 *          and type may be left out (the file's own name,
 *          application/octet-stream).
 *
 * Returns "" when the server accepted the mail: a positive reply to the end of
 * the message, received after its last byte was sent. A reply that arrives
 * before its command (or before the end of the message) is a protocol error,
 * and so are malformed replies, a line over 8 KiB and a reply over 64 KiB.
 * Otherwise the reason: a short Japanese lead, then the server's reply line
 * as it came, or a Japanese description naming the host and port (refused,
 * unknown host, time-out, untrusted certificate with what to do), with the
 * network library's own words in parentheses where they help. Release the
 * result with BsmtpFree. NULL only when no memory was left for the answer;
 * count that as a failure.
 */
BSMTP_API char *SendMail(const char *server, const char *to, const char *from, const char *subject,
                         const char *body, const char *files);

/*
 * Told how far the message of SendMailWithProgress has gone.
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
 * SendMailWithProgress; they should return quickly, as the transfer waits.
 */
typedef void (*BsmtpProgress)(void *context, int64_t sent, int64_t total);

/*
 * SendMail that reports the progress of the message to progress (which may
 * be NULL), handing it context unchanged. Arguments and result as for
 * SendMail.
 */
BSMTP_API char *SendMailWithProgress(const char *server, const char *to, const char *from,
                                     const char *subject, const char *body, const char *files,
                                     BsmtpProgress progress, void *context);

/*
 * Signs in to a POP3 mailbox and runs one command, for POP before SMTP.
 *
 * server   "host" TAB "port" [TAB "time-out"]: port empty means 110; port 995
 *          speaks TLS from the start, other ports use STLS when offered.
 *          Time-out as for SendMail (empty: 120 seconds).
 * user, password  the account.
 * command  "STAT" (the only command this library runs).
 * folder   where received mail would be stored; STAT stores nothing and the
 *          folder is not touched.
 *
 * Signs in with USER and PASS. Every answer must be the status "+OK"
 * followed by a space or the line end ("+OKAY" is a refusal); time-outs and
 * protocol errors as for SendMail.
 *
 * Returns 1 when the sign-in and the command succeeded, 0 otherwise. When
 * result is not NULL, *result receives a text to release with BsmtpFree: on
 * success the server's answer to the command (for STAT "+OK <count>
 * <size>"), on failure the reason, with the server's own reply line where it
 * gave one.
 */
BSMTP_API int RcvMail(const char *server, const char *user, const char *password,
                      const char *command, const char *folder, char **result);

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

/*
 * SendMailWithProgress with servers remembered in knownServers, the path of
 * known-servers.txt (see below), and a certificate the system does not
 * accept put to trust (which may be NULL: refused).
 *
 * What may go where is decided for each connection from what the file
 * knows of "host:port" (the host in lower case, without a final dot, an IPv6
 * address in its canonical form):
 * - A stored key decides alone: a certificate with another key is refused,
 *   with or without a sign-in method, and trust is not asked.
 * - A server recorded with "starttls", or with a stored key, never gets the
 *   mail or a password without TLS: an offer struck out, a refused STARTTLS
 *   or a failed handshake are refused.
 * - Otherwise, with a sign-in method or on port 465, the certificate must be
 *   one the system accepts for the host (its store and its OpenSSL security
 *   level), or one that trust accepts: its key is then stored. With no
 *   sign-in method any certificate will do; should the handshake itself
 *   fail (an old server), the mail goes again on a new connection without
 *   TLS.
 * - A sign-in to a server that offers no TLS is asked about
 *   (BSMTP_ASK_PLAIN) unless the file has "host:port no-tls"; a yes stores
 *   that line.
 * Once TLS worked with a server, "starttls" is stored for it. Should the
 * server go while the user is asked, the exchange starts once more without
 * asking. An existing file that cannot be read stops the call; lines not
 * understood and lines that cannot be stored are told through trust as
 * BSMTP_NOTICE, and a line not understood that names the server stops the
 * call. A refusal names the file and ends with the line that would change the
 * decision, on a line of its own followed by CR LF.
 *
 * known-servers.txt, one server a line (CR LF or LF; blank lines and lines
 * starting with "#" are skipped, and every line is kept when one is added;
 * the file is written under a lock on "known-servers.txt.lock" beside it,
 * replaced whole, through a symbolic link, mode 0600 when new):
 *   host:port sha256//<Base64 of the SHA-256 of the public key>
 *   host:port starttls
 *   host:port no-tls
 */
BSMTP_API char *SendMailWithTrust(const char *server, const char *to, const char *from,
                                  const char *subject, const char *body, const char *files,
                                  const char *knownServers, BsmtpProgress progress,
                                  void *progressContext, BsmtpTrust trust, void *trustContext);

/*
 * RcvMail with the rules of SendMailWithTrust for a sign-in: POP3 always
 * sends a password.
 */
BSMTP_API int RcvMailWithTrust(const char *server, const char *user, const char *password,
                               const char *command, const char *folder, const char *knownServers,
                               BsmtpTrust trust, void *trustContext, char **result);

/*
 * Checks the known-servers.txt at path as SendMailWithTrust reads it: 1 when
 * it is missing or every line is understood; 0 otherwise, with *result (to
 * release with BsmtpFree) the reasons, one a line ended by LF.
 */
BSMTP_API int BsmtpCheckKnownServers(const char *path, char **result);

/* Releases a text returned by this library; NULL is ignored. */
BSMTP_API void BsmtpFree(char *text);

#ifdef __cplusplus
}
#endif

#endif
