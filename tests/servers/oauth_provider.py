"""A small OAuth 2.0 identity provider for the tests, on http.server.

Listens on 127.0.0.1 (port 0 picks a free one) and writes "<port>\n" to the
ready file once it accepts connections. Endpoints:

  POST /devicecode  device authorization (interval 1 s); the user "approves"
                    by itself at the second poll (--approve auto) or refuses
                    (--approve deny)
  GET  /authorize   a browser sign-in: redirects at once to redirect_uri with a
                    code, checking the PKCE challenge later at the exchange
  POST /token       device_code, authorization_code and refresh_token grants;
                    a refresh rotates the refresh token (the old one is dead)
  POST /control/expire   every access token issued so far has expired
  POST /control/revoke   every grant is revoked (invalid_grant from now on)

Access tokens live --access-seconds. The valid ones are kept in
<folder>/access-tokens.json ({"token": expiry in epoch seconds}) for the test
SMTP server to check; every request is logged to <folder>/requests.log as
"path grant_type" (never a token).
"""

import argparse
import base64
import hashlib
import json
import os
import secrets
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--ready-file", required=True)
    p.add_argument("--folder", required=True)
    p.add_argument("--client-id", default="kestlin-test")
    p.add_argument("--approve", default="auto", choices=["auto", "deny"])
    p.add_argument("--access-seconds", type=int, default=60)
    return p.parse_args()


ARGS = parse_args()
LOCK = threading.Lock()
DEVICES = {}  # device_code -> {"polls": n}
CODES = {}  # code -> {"challenge": c, "redirect_uri": r}
REFRESH = set()  # live refresh tokens
ACCESS = {}  # access token -> expiry


def save_access():
    path = os.path.join(ARGS.folder, "access-tokens.json")
    with open(path + ".part", "w") as f:
        json.dump(ACCESS, f)
    os.rename(path + ".part", path)


def issue():
    access = "at-" + secrets.token_urlsafe(24)
    refresh = "rt-" + secrets.token_urlsafe(24)
    ACCESS[access] = time.time() + ARGS.access_seconds
    REFRESH.add(refresh)
    save_access()
    return {"access_token": access, "refresh_token": refresh, "token_type": "Bearer",
            "expires_in": ARGS.access_seconds}


def s256(verifier):
    digest = hashlib.sha256(verifier.encode()).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode()


def token_grant(form):
    grant = form.get("grant_type", "")
    if grant == "urn:ietf:params:oauth:grant-type:device_code":
        device = DEVICES.get(form.get("device_code", ""))
        if device is None:
            return 400, {"error": "expired_token", "error_description": "unknown device code"}
        device["polls"] += 1
        if ARGS.approve == "deny":
            return 400, {"error": "access_denied", "error_description": "the user said no"}
        if device["polls"] < 2:
            return 400, {"error": "authorization_pending"}
        del DEVICES[form["device_code"]]
        return 200, issue()
    if grant == "authorization_code":
        code = CODES.pop(form.get("code", ""), None)
        if (code is None or code["redirect_uri"] != form.get("redirect_uri")
                or code["challenge"] != s256(form.get("code_verifier", ""))):
            return 400, {"error": "invalid_grant", "error_description": "bad code or verifier"}
        return 200, issue()
    if grant == "refresh_token":
        old = form.get("refresh_token", "")
        if old not in REFRESH:
            return 400, {"error": "invalid_grant",
                         "error_description": "AADSTS70008: the refresh token has expired or was revoked"}
        REFRESH.discard(old)
        return 200, issue()
    return 400, {"error": "unsupported_grant_type"}


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def log(self, what):
        with open(os.path.join(ARGS.folder, "requests.log"), "a") as f:
            f.write(what + "\n")

    def answer(self, status, body):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        self.log(f"{url.path} {query.get('response_type', '')}")
        if url.path != "/authorize" or query.get("client_id") != ARGS.client_id:
            return self.answer(400, {"error": "invalid_request"})
        target = query["redirect_uri"]
        if ARGS.approve == "deny":
            extra = {"error": "access_denied", "error_description": "the user said no"}
        else:
            code = secrets.token_urlsafe(16)
            with LOCK:
                CODES[code] = {"challenge": query.get("code_challenge"), "redirect_uri": target}
            extra = {"code": code}
        extra["state"] = query.get("state", "")
        self.send_response(302)
        self.send_header("Location", target + "?" + urllib.parse.urlencode(extra))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
        self.log(f"{self.path} {form.get('grant_type', '')}")
        with LOCK:
            if self.path == "/control/expire":
                for token in ACCESS:
                    ACCESS[token] = 0
                save_access()
                return self.answer(200, {})
            if self.path == "/control/revoke":
                REFRESH.clear()
                ACCESS.clear()
                save_access()
                return self.answer(200, {})
            if form.get("client_id") != ARGS.client_id:
                return self.answer(401, {"error": "invalid_client",
                                         "error_description": "unknown client"})
            if self.path == "/devicecode":
                code = secrets.token_urlsafe(16)
                DEVICES[code] = {"polls": 0}
                port = self.server.server_address[1]
                return self.answer(200, {
                    "device_code": code, "user_code": "KEST-LIN1",
                    "verification_uri": f"http://127.0.0.1:{port}/device",
                    "expires_in": 60, "interval": 1})
            if self.path == "/token":
                return self.answer(*token_grant(form))
        self.answer(404, {"error": "not_found"})


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    save_access()
    tmp = ARGS.ready_file + ".part"
    with open(tmp, "w") as f:
        f.write(f"{server.server_address[1]}\n")
    os.rename(tmp, ARGS.ready_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
