"""Reads one stored message with Python's own MIME parser and prints what a
mail program would see, one "key hex(value)" a line (hex keeps any byte
safe): the decoded headers, the decoded text body and every attachment.
"""

import email
import email.policy
import sys
from email.header import decode_header, make_header


def out(key, value):
    if isinstance(value, str):
        value = value.encode("utf-8")
    sys.stdout.write(f"{key} {value.hex()}\n")


def main(path):
    with open(path, "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    out("content_type", msg.get_content_type())
    for name in ("Subject", "From", "To", "Cc", "Bcc", "Date", "Message-ID",
                 "MIME-Version"):
        value = msg.get(name)
        if value is not None:
            out("header:" + name, str(make_header(decode_header(value))))
    out("raw_subject", msg.get("Subject", ""))
    out("defects", str(len(msg.defects)))
    for part in msg.walk():
        if part.is_multipart():
            continue
        out("defects", str(len(part.defects)))
        filename = part.get_filename()
        payload = part.get_payload(decode=True) or b""
        if filename is None and part.get_content_type() == "text/plain":
            charset = part.get_content_charset() or "us-ascii"
            out("body_charset", charset)
            out("body_encoding", part.get("Content-Transfer-Encoding", ""))
            out("body", payload.decode(charset))
        else:
            out("attachment_name", str(make_header(decode_header(filename or ""))))
            # What a reader that knows no RFC 2231 takes instead.
            type_name = part.get_param("name") or ""
            out("attachment_type_name", str(make_header(decode_header(type_name))))
            out("attachment_type", part.get_content_type())
            out("attachment_encoding", part.get("Content-Transfer-Encoding", ""))
            out("attachment_bytes", payload)


if __name__ == "__main__":
    main(sys.argv[1])
