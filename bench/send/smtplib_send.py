#!/usr/bin/python3
"""Composes with Python's email package and sends with smtplib.

Usage: smtplib_send.py HOST:PORT FROM TO FILE...
"""
import os
import smtplib
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compose import compose  # noqa: E402

server, sender, rcpt, *files = sys.argv[1:]
host, port = server.rsplit(":", 1)
with smtplib.SMTP(host, int(port)) as smtp:
    smtp.send_message(compose(sender, rcpt, files))
