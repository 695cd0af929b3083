#!/usr/bin/python3
"""tessaly-send PATH end to end: repeated --to through aiosmtpd, server and sender from --settings,
the text from standard input."""
import email
import json
import os
import subprocess
import sys
import tempfile
import unittest

STORE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "smtp_store.py")
SEND = None


class SendEndToEnd(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="tessaly-send-")
        self.addCleanup(self.dir.cleanup)
        self.server = subprocess.Popen(["/usr/bin/python3", STORE, self.dir.name], stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, text=True)
        self.addCleanup(self.server.wait)
        self.addCleanup(self.server.stdin.close)
        self.port = int(self.server.stdout.readline().split()[1])

    def path(self, name, data=None):
        path = os.path.join(self.dir.name, name)
        if data is not None:
            with open(path, "wb") as f:
                f.write(data)
        return path

    def send(self, *args, stdin=b""):
        return subprocess.run([SEND, *args], input=stdin, capture_output=True, timeout=60)

    def test_repeated_to_reaches_every_recipient_with_settings_and_standard_input(self):
        settings = self.path("tessaly.ini", b"[Setup]\r\nServer=127.0.0.1:%d\r\nEMail Address=me@example.org\r\n"
                                            b"Name=Me\r\n" % self.port)
        data = bytes(range(256)) * 10
        run = self.send("--settings", settings, "--to", "a@example.org", "--to", "b@example.org|Bea",
                        "--to", "c@example.org", "--subject", "Three", "--body-file", "-",
                        self.path("data.bin", data), stdin=b"Hello all\n")
        self.assertEqual(run.returncode, 0, run.stderr)
        envelope = json.load(open(self.path("1.json")))
        self.assertEqual(envelope["mail_from"], "me@example.org")
        self.assertEqual(sorted(envelope["rcpt_tos"]), ["a@example.org", "b@example.org", "c@example.org"])
        message = email.message_from_binary_file(open(self.path("1.eml"), "rb"))
        parts = message.get_payload()
        self.assertIn("Hello all", parts[0].get_payload())
        self.assertEqual(parts[1].get_payload(decode=True), data)
        self.assertFalse(os.path.exists(self.path("2.eml")))


if __name__ == "__main__":
    SEND = sys.argv.pop(1)
    unittest.main()
