#!/usr/bin/python3
"""Writes a MIME message with base64 attachments, CR LF line ends, for curl -T.

Usage: compose.py OUT.eml FROM TO FILE...
"""
import email.generator
import email.message
import email.policy
import os
import sys

out, sender, rcpt, *files = sys.argv[1:]
msg = email.message.EmailMessage()
msg["From"] = sender
msg["To"] = rcpt
msg["Subject"] = "bench"
msg.set_content("Benchmark message.\n")
for path in files:
    with open(path, "rb") as f:
        msg.add_attachment(f.read(), maintype="application", subtype="octet-stream",
                           filename=os.path.basename(path))
with open(out, "wb") as f:
    email.generator.BytesGenerator(f, policy=email.policy.SMTP).flatten(msg)
