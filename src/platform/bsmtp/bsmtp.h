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
 * server   "host" TAB "port" TAB "time-out": port empty means 25; port 465
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

/*
 * A server certificate that the system does not accept for the server, as
 * the user is shown it before deciding. Every text is UTF-8 and lives only
 * during the call that hands it over.
 */
typedef struct BsmtpCertificate
{
    const char *server; /* "host:port" as known-servers.txt names it */
    const char *subject; /* the certificate's subject and issuer, RFC 2253 */
    const char *issuer;
    const char *validFrom; /* "YYYY/MM/DD HH:MM:SS UTC" */
    const char *validUntil;
    const char *fingerprint; /* SHA-256 of the certificate, "AB:CD:..." */
    const char *problem; /* why it is not accepted: Japanese sentences */
    const char *line; /* the line of known-servers.txt that trusts it */
} BsmtpCertificate;

/*
 * Asked whether to trust a certificate; nonzero: trust it. Called from the
 * calling thread within the call, while the server waits.
 */
typedef int (*BsmtpTrust)(void *context, const BsmtpCertificate *certificate);

/*
 * SendMailWithProgress with servers remembered in knownServers, the path of
 * known-servers.txt (see below), and a certificate the system does not
 * accept put to trust (which may be NULL: refused).
 *
 * With no sign-in method, on any port but 465, no password travels over
 * SMTP: STARTTLS is used whenever the server offers it and any certificate
 * will do; should the handshake itself fail (an old server), the mail goes
 * again on a new connection without TLS. Otherwise (a sign-in method, or
 * port 465) the certificate must be the one whose key known-servers.txt
 * holds for "host:port"; a different key is refused and trust is not asked.
 * A server without a stored key must have a certificate the system accepts
 * for the host as given, or one that trust accepts: its line is then added
 * to the file (and should the server have gone meanwhile, the exchange
 * starts once more without asking). A server that offered STARTTLS is remembered in the file; a
 * sign-in to such a server without TLS is refused. A refusal names the file
 * and ends with the line that would change the decision, on a line of its
 * own followed by CR LF.
 *
 * known-servers.txt, one server a line (CR LF or LF; blank lines and lines
 * starting with "#" are skipped, and every line is kept when one is added):
 *   host:port sha256//<Base64 of the SHA-256 of the public key>
 *   host:port starttls
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

/* Releases a text returned by this library; NULL is ignored. */
BSMTP_API void BsmtpFree(char *text);

#ifdef __cplusplus
}
#endif

#endif
