#!/usr/bin/python3
"""Composes a MIME message with base64 attachments using Python's email package.

As a program it writes the message with CR LF line ends, for curl -T:
    compose.py OUT.eml FROM TO FILE...
smtplib_send.py imports compose() to build the message it sends.
"""
import email.generator
import email.message
import email.policy
import os
import sys


def compose(sender, rcpt, files):
    msg = email.message.EmailMessage()
    msg["From"] = sender
    msg["To"] = rcpt
    msg["Subject"] = "bench"
    msg.set_content("Benchmark message.\n")
    for path in files:
        with open(path, "rb") as f:
            msg.add_attachment(f.read(), maintype="application", subtype="octet-stream",
                               filename=os.path.basename(path))
    return msg


if __name__ == "__main__":
    out, sender, rcpt, *files = sys.argv[1:]
    with open(out, "wb") as f:
        email.generator.BytesGenerator(f, policy=email.policy.SMTP).flatten(compose(sender, rcpt, files))
