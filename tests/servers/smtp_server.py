"""A real SMTP server for the tests, on aiosmtpd.

Listens on 127.0.0.1 (port 0 picks a free one), writes "<port>\n" to the
ready file once it accepts connections, and stores every accepted message as
NNNNNN.eml (the bytes as received) and NNNNNN.env (envelope and sign-in,
one "key value" a line) in the mail folder. It runs until it is killed.
"""

import argparse
import asyncio
import base64
import binascii
import hmac
import json
import os
import secrets
import socket
import ssl
import time
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword, MISSING, auth_mechanism


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--ready-file", required=True)
    p.add_argument("--mail-dir", required=True)
    p.add_argument("--auth", default="LOGIN,PLAIN,CRAM-MD5",
                   help="mechanisms to offer, comma separated (also XOAUTH2, "
                        "OAUTHBEARER); empty offers no AUTH")
    p.add_argument("--bearer-token", default="token",
                   help="the access token that XOAUTH2 and OAUTHBEARER accept for --user")
    p.add_argument("--user", default="user")
    p.add_argument("--password", default="password")
    p.add_argument("--cert", help="certificate (PEM) for STARTTLS")
    p.add_argument("--key", help="private key (PEM) for STARTTLS")
    p.add_argument("--implicit-tls", action="store_true",
                   help="TLS from the first byte instead of STARTTLS")
    p.add_argument("--old-tls", action="store_true",
                   help="TLS 1.0 only, as an old server: no current client completes it")
    p.add_argument("--weak-certificate", action="store_true",
                   help="let the server use a certificate below the default security level")
    p.add_argument("--stall", default="none",
                   choices=["none", "greeting", "data", "end"],
                   help="stop answering: before the greeting, after DATA "
                        "(and stop reading), or after the end of the message")
    p.add_argument("--throttle", type=int, default=0,
                   help="bytes per second the server reads from the client; 0: no limit")
    p.add_argument("--size-limit", type=int, default=0,
                   help="largest message taken, in bytes; 0: any")
    p.add_argument("--size-offer", default="limit", choices=["limit", "bare", "none"],
                   help="what EHLO says of the limit: SIZE and the limit, SIZE alone "
                        "(refused at MAIL FROM SIZE= all the same), or nothing "
                        "(refused after the last byte)")
    p.add_argument("--after-data", default="reply", choices=["reply", "drop", "refuse"],
                   help="once the whole message is in: answer as usual, store it and "
                        "drop the connection without a reply, or refuse it with 554")
    p.add_argument("--oauth-tokens",
                   help="access tokens of the test identity provider (a JSON object of "
                        "token and expiry); then XOAUTH2 and OAUTHBEARER take a live one "
                        "of these instead of --bearer-token")
    return p.parse_args()


ARGS = parse_args()
ALL_MECHANISMS = {"LOGIN", "PLAIN", "CRAM-MD5", "XOAUTH2", "OAUTHBEARER"}


class Handler:
    def __init__(self, mail_dir):
        self.mail_dir = mail_dir
        self.count = 0

    def log(self, line):
        # Every EHLO, MAIL, DATA and QUIT as the client sent it.
        with open(os.path.join(self.mail_dir, "dialogue.log"), "a") as f:
            f.write(line + "\n")

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self.log(f"EHLO {hostname}")
        session.host_name = hostname
        if ARGS.size_offer == "limit":
            return responses
        kept = [r for r in responses if not r.startswith("250-SIZE")]
        if ARGS.size_offer == "bare" and ARGS.size_limit:
            kept.insert(1, "250-SIZE")
        return kept

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        # Kept so that a test can tell that no transaction was even begun.
        with open(os.path.join(self.mail_dir, "commands.log"), "a") as f:
            f.write(f"MAIL {address}\n")
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        # A mailbox that does not exist, for the tests of a refusal.
        if address.endswith("@refused.test"):
            return "550 5.1.1 <" + address + ">: Recipient address rejected"
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if ARGS.stall == "end":
            await asyncio.sleep(3600)
        if ARGS.after_data == "refuse":
            return "554 5.7.1 Message refused after its end"
        self.count += 1
        stem = os.path.join(self.mail_dir, f"{self.count:06d}")
        with open(stem + ".eml.part", "wb") as f:
            f.write(envelope.original_content)
        lines = [f"mail_from {envelope.mail_from}"]
        lines += [f"rcpt_to {rcpt}" for rcpt in envelope.rcpt_tos]
        lines += [
            f"authenticated {int(bool(session.authenticated))}",
            f"mechanism {getattr(session, 'kestlin_mechanism', '')}",
            f"login {login_of(session)}",
            f"tls {int(session.ssl is not None)}",
        ]
        with open(stem + ".env", "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        # The message appears under its final name only when complete.
        os.rename(stem + ".eml.part", stem + ".eml")
        if ARGS.after_data == "drop":
            # Kept, and the reply lost: the client cannot know.
            server.transport.abort()
            return "250 2.0.0 OK (never reaches the client)"
        return "250 2.0.0 OK queued as " + os.path.basename(stem)


def login_of(session):
    data = session.auth_data
    login = getattr(data, "login", None)
    return login.decode("utf-8", "replace") if isinstance(login, bytes) else ""


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword)
          and auth_data.login == ARGS.user.encode()
          and auth_data.password == ARGS.password.encode())
    if ok:
        session.kestlin_mechanism = mechanism
    return AuthResult(success=ok, handled=False, auth_data=auth_data)


def oauth_token_valid(token):
    # The identity provider rewrites the file whenever it issues or ends a token.
    try:
        with open(ARGS.oauth_tokens) as f:
            expiry = json.load(f).get(token)
    except (OSError, TypeError, ValueError):
        return False
    return expiry is not None and expiry > time.time()


def bearer_accepted(account, token):
    """Whether an OAuth 2.0 access token signs in account: the one check of a token."""
    if account != ARGS.user:
        return False
    if ARGS.oauth_tokens:
        return oauth_token_valid(token)
    return hmac.compare_digest(token, ARGS.bearer_token)


def sasl_fields(text):
    """ "key=value" pairs separated by 0x01, as XOAUTH2 and OAUTHBEARER send them."""
    return dict(kv.split("=", 1) for kv in text.split("\x01") if "=" in kv)


def bearer_of(auth):
    return auth[len("Bearer "):] if auth.startswith("Bearer ") else ""


class TestSMTP(SMTP):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        # An access token makes a long AUTH line (RFC 4954 allows 12288).
        self.command_size_limits["AUTH"] = 12288

    async def initial_response(self, args):
        if len(args) == 1:
            blob = await self.challenge_auth("")
        else:
            try:
                blob = b"" if args[1] == "=" else base64.b64decode(args[1], validate=True)
            except binascii.Error:
                await self.push("501 5.5.2 Can't decode base64")
                return MISSING
        return blob if blob is MISSING else blob.decode("utf-8", "replace")

    async def bearer_result(self, mechanism, account, token):
        if bearer_accepted(account, token):
            self.session.kestlin_mechanism = mechanism
            return AuthResult(success=True, handled=False,
                              auth_data=LoginPassword(account.encode(), b""))
        # The error travels as a challenge; the client's answer ends it.
        error = b'{"status":"invalid_token","schemes":"bearer"}'
        if await self.challenge_auth(error) is MISSING:
            return AuthResult(success=False, handled=True)
        return AuthResult(success=False, handled=False)

    @auth_mechanism("XOAUTH2")
    async def auth_XOAUTH2(self, _, args):
        text = await self.initial_response(args)
        if text is MISSING:
            return AuthResult(success=False, handled=True)
        fields = sasl_fields(text)
        return await self.bearer_result("XOAUTH2", fields.get("user", ""),
                                        bearer_of(fields.get("auth", "")))

    @auth_mechanism("OAUTHBEARER")
    async def auth_OAUTHBEARER(self, _, args):
        text = await self.initial_response(args)
        if text is MISSING:
            return AuthResult(success=False, handled=True)
        header, _, rest = text.partition("\x01")
        account = ""
        for part in header.split(","):
            if part.startswith("a="):
                account = part[2:].replace("=2C", ",").replace("=3D", "=")
        fields = sasl_fields(rest)
        return await self.bearer_result("OAUTHBEARER", account,
                                        bearer_of(fields.get("auth", "")))

    @auth_mechanism("CRAM-MD5")
    async def auth_CRAM_MD5(self, _, args):
        challenge = f"<{secrets.token_hex(8)}@kestlin.test>".encode()
        answer = await self.challenge_auth(challenge)
        if answer is MISSING:
            return AuthResult(success=False, handled=False)
        login, _, digest = answer.rpartition(b" ")
        expected = hmac.new(ARGS.password.encode(), challenge, "md5").hexdigest()
        ok = login == ARGS.user.encode() and hmac.compare_digest(
            digest, expected.encode())
        if ok:
            self.session.kestlin_mechanism = "CRAM-MD5"
        return AuthResult(success=ok, handled=False,
                          auth_data=LoginPassword(login, b""))

    async def smtp_STARTTLS(self, arg):
        if not ARGS.old_tls or arg:
            return await super().smtp_STARTTLS(arg)
        await self.push("220 Ready to start TLS")
        await refuse_as_old_tls(self._reader, self.transport)

    async def smtp_MAIL(self, arg):
        self.event_handler.log(f"MAIL {arg}")
        return await super().smtp_MAIL(arg)

    async def smtp_QUIT(self, arg):
        self.event_handler.log("QUIT")
        return await super().smtp_QUIT(arg)

    async def smtp_DATA(self, arg):
        self.event_handler.log("DATA")
        if ARGS.stall == "data":
            # Accept the data and then read no more of it.
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            await asyncio.sleep(3600)
            return
        return await super().smtp_DATA(arg)


# What a server that speaks TLS 1.0 alone answers a client that wants 1.2 or
# later: the client's hello read to its end, then a fatal protocol_version
# alert, and the connection closed once the client has gone. OpenSSL itself
# cannot be that server any more (it refuses TLS 1.0 before reading the
# hello), and closing with the hello unread would make the client see an
# alert, a reset or an end of stream depending on timing.
async def refuse_as_old_tls(reader, transport):
    try:
        header = await reader.readexactly(5)
        await reader.readexactly(int.from_bytes(header[3:5], "big"))
        transport.write(bytes([21, 3, 1, 0, 2, 2, 70]))
        await asyncio.wait_for(reader.read(), 30)
    except (asyncio.IncompleteReadError, asyncio.TimeoutError, ConnectionError):
        pass
    transport.close()


async def pipe(reader, writer, rate):
    # Forwards at most rate bytes a second (0: as fast as it comes).
    try:
        while True:
            data = await reader.read(max(rate // 20, 1) if rate else 65536)
            if not data:
                break
            writer.write(data)
            await writer.drain()
            if rate:
                await asyncio.sleep(len(data) / rate)
    except (ConnectionError, OSError):
        pass
    finally:
        writer.close()


def throttled(inner_port):
    async def connection(client_reader, client_writer):
        reader, writer = await asyncio.open_connection("127.0.0.1", inner_port)
        await asyncio.gather(pipe(client_reader, writer, ARGS.throttle),
                             pipe(reader, client_writer, 0))
    return connection


async def stalled_connection(reader, writer):
    await asyncio.sleep(3600)


def tls_context():
    if not ARGS.cert:
        return None
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    if ARGS.weak_certificate:
        ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
    ctx.load_cert_chain(ARGS.cert, ARGS.key)
    if ARGS.old_tls:
        warnings.simplefilter("ignore", DeprecationWarning)
        ctx.minimum_version = ctx.maximum_version = ssl.TLSVersion.TLSv1
    return ctx


async def main():
    loop = asyncio.get_running_loop()
    offered = {m for m in ARGS.auth.split(",") if m}
    context = tls_context()
    # One handler for all connections: it numbers the stored messages.
    handler = Handler(ARGS.mail_dir)

    def factory():
        return TestSMTP(
            handler,
            hostname="kestlin.test",
            decode_data=False,
            authenticator=authenticator,
            auth_exclude_mechanism=ALL_MECHANISMS - offered,
            # AUTH is advertised only when some mechanism is offered: with
            # none, require TLS for it on a server that never gets TLS.
            auth_require_tls=not offered,
            tls_context=None if ARGS.implicit_tls else context,
            data_size_limit=ARGS.size_limit or None,
        )

    if ARGS.stall == "greeting":
        server = await asyncio.start_server(stalled_connection, "127.0.0.1", ARGS.port)
    else:
        server = await loop.create_server(
            factory, "127.0.0.1", 0 if ARGS.throttle else ARGS.port,
            ssl=context if ARGS.implicit_tls else None)
    if ARGS.throttle:
        # A slow line in front of the server; small buffers so that the
        # client feels it instead of the kernel soaking the message up.
        inner = server.sockets[0].getsockname()[1]
        server = await asyncio.start_server(throttled(inner), "127.0.0.1", ARGS.port,
                                            limit=65536)
        for sock in server.sockets:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32768)
    port = server.sockets[0].getsockname()[1]
    tmp = ARGS.ready_file + ".part"
    with open(tmp, "w") as f:
        f.write(f"{port}\n")
    os.rename(tmp, ARGS.ready_file)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
