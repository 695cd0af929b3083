#!/usr/bin/python3
"""Composes with Python's email package and sends with smtplib.

Usage: smtplib_send.py HOST:PORT FROM TO FILE...
"""
import email.message
import os
import smtplib
import sys

server, sender, rcpt, *files = sys.argv[1:]
host, port = server.rsplit(":", 1)
msg = email.message.EmailMessage()
msg["From"] = sender
msg["To"] = rcpt
msg["Subject"] = "bench"
msg.set_content("Benchmark message.\n")
for path in files:
    with open(path, "rb") as f:
        msg.add_attachment(f.read(), maintype="application", subtype="octet-stream",
                           filename=os.path.basename(path))
with smtplib.SMTP(host, int(port)) as smtp:
    smtp.send_message(msg)
