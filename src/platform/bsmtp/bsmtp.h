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

/* Releases a text returned by this library; NULL is ignored. */
BSMTP_API void BsmtpFree(char *text);

#ifdef __cplusplus
}
#endif

#endif
