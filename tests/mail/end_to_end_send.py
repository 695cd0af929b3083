#!/usr/bin/python3
"""End to end: tessaly-send -> aiosmtpd on 127.0.0.1 -> Python's email parser.

Usage: end_to_end_send.py PATH/TO/tessaly-send
Every attachment must arrive byte-exact (base64 parts and UU blocks, the
latter decoded by GNU uudecode) or, for text parts, equal to the file with
its line breaks as CR LF; BCC recipients appear in the envelope only; the
header lines arrive as sent.
"""
import email
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
STORE = os.path.join(HERE, "..", "support", "smtp_store.py")
SEND = None

FROM = "sender@example.org|Sender Name"
TO = "rcpt@example.net|Rcpt"
CC = ["copy1@example.net|Copy One", "copy2@example.net"]
BCC = ["hidden@example.net|Hidden"]

# Sizes around the line lengths of base64 (57) and UU (45) and a few larger.
BINARY_SIZES = [0, 1, 2, 3, 44, 45, 46, 56, 57, 58, 114, 1000, 65536, 1048576 + 7]


def crlf(data):
    return re.sub(rb"\r\n|\r|\n", b"\r\n", data)


class Server:
    def __enter__(self):
        self.folder = tempfile.mkdtemp(prefix="tessaly-store-")
        self.process = subprocess.Popen(["/usr/bin/python3", STORE, self.folder],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        line = self.process.stdout.readline().decode()
        if not line.startswith("PORT "):
            raise RuntimeError("aiosmtpd did not start: %r" % line)
        self.address = "127.0.0.1:" + line.split()[1]
        return self

    def __exit__(self, *exc):
        self.process.stdin.close()
        self.process.wait(timeout=10)
        self.process.stdout.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def messages(self):
        n = 1
        found = []
        while os.path.exists(os.path.join(self.folder, "%d.eml" % n)):
            with open(os.path.join(self.folder, "%d.eml" % n), "rb") as f:
                raw = f.read()
            with open(os.path.join(self.folder, "%d.json" % n)) as f:
                envelope = json.load(f)
            found.append((raw, envelope))
            n += 1
        return found


class EndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="tessaly-files-")
        rnd = __import__("random").Random(20261206)
        cls.binaries = []
        for size in BINARY_SIZES:
            path = os.path.join(cls.dir, "Data%d.bin" % size)
            with open(path, "wb") as f:
                f.write(bytes(rnd.getrandbits(8) for _ in range(size)) if size < 70000 else os.urandom(size))
            cls.binaries.append(path)
        texts = {
            "lf.txt": b"first line\nsecond = line\n.dot line\n\nlast\n",
            "crlf.txt": b"windows\r\nline\r\n\r\n",
            "mixed.txt": b"a\rb\nc\r\nno final break",
            "latin.txt": b"caf\xe9 cr\xe8me  \ntrailing blanks   \n\ttab\n",
            "long.txt": (b"word " * 3000).strip() + b"\n" + b"x" * 200 + b"\n",
            "empty.txt": b"",
        }
        cls.texts = []
        for name, data in texts.items():
            path = os.path.join(cls.dir, name)
            with open(path, "wb") as f:
                f.write(data)
            cls.texts.append(path)
        cls.body = os.path.join(cls.dir, "body.txt")
        with open(cls.body, "wb") as f:
            f.write(b"Hello,\n.a line starting with a dot\n.\n\nGr\xfc\xdfe\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def send(self, server, files, *options):
        args = [SEND, "--server", server.address, "--from", FROM, "--to", TO, "--timeout", "20"]
        for c in CC:
            args += ["--cc", c]
        for b in BCC:
            args += ["--bcc", b]
        args += list(options) + files
        result = subprocess.run(args, capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))

    def check_envelope(self, raw, envelope):
        self.assertEqual(envelope["mail_from"], "sender@example.org")
        self.assertEqual(envelope["rcpt_tos"], ["rcpt@example.net", "copy1@example.net", "copy2@example.net",
                                                "hidden@example.net"])
        head = raw.split(b"\r\n\r\n", 1)[0]
        self.assertNotIn(b"hidden", raw.lower())
        self.assertIn(b"\r\nCC:       Copy One<copy1@example.net>,\r\n          <copy2@example.net>\r\n", head)
        self.assertTrue(head.startswith(b"From:     Sender Name<sender@example.org>\r\n"
                                        b"To:       Rcpt<rcpt@example.net>\r\n"))

    def check_mime(self, raw, files, subject):
        message = email.message_from_bytes(raw)
        self.assertEqual(message["Subject"], subject)
        self.assertEqual(message["Mime-Version"], "1.0")
        self.assertEqual(message["X-Encoding"], "MIME")
        self.assertTrue(message.is_multipart())
        parts = message.get_payload()
        self.assertEqual(len(parts), len(files) + 1)
        self.assertEqual(parts[0].get_content_type(), "text/plain")
        self.assertEqual(parts[0].get_payload(decode=True), b"")
        for index, (part, path) in enumerate(zip(parts[1:], files)):
            with open(path, "rb") as f:
                data = f.read()
            name = os.path.basename(path)
            self.assertEqual(part.get_param("name"), name)
            if path.endswith(".txt"):
                self.assertEqual(part.get_content_type(), "text/plain")
                self.assertEqual(part["Content-Transfer-Encoding"], "quoted-printable")
                self.assertIsNone(part["Content-Disposition"])
                self.assertEqual(crlf(part.get_payload(decode=True)), crlf(data), name)
            else:
                self.assertEqual(part["Content-Transfer-Encoding"], "base64")
                self.assertEqual(part.get_filename(), name)
                self.assertEqual(part.get_payload(decode=True), data, name)

    def test_mime_many_files_one_message(self):
        files = self.binaries + self.texts
        with Server() as server:
            self.send(server, files, "--subject", "Many files")
            messages = server.messages()
        self.assertEqual(len(messages), 1)
        raw, envelope = messages[0]
        self.check_envelope(raw, envelope)
        self.check_mime(raw, files, "Many files")

    def test_mime_one_file_per_message(self):
        files = self.binaries[:4] + self.texts[:2]
        with Server() as server:
            self.send(server, files, "--subject", "One each", "--one-file-per-message")
            messages = server.messages()
        self.assertEqual(len(messages), len(files))
        for (raw, envelope), path in zip(messages, files):
            self.check_envelope(raw, envelope)
            self.check_mime(raw, [path], "One each")

    def test_iso_text_with_a_file(self):
        with Server() as server:
            self.send(server, [self.binaries[3]], "--subject", "Text", "--body-file", self.body,
                      "--charset", "iso-8859-1")
            (raw, envelope), = server.messages()
        message = email.message_from_bytes(raw)
        text = message.get_payload()[0]
        self.assertEqual(text.get_content_charset(), "iso-8859-1")
        with open(self.body, "rb") as f:
            self.assertEqual(crlf(text.get_payload(decode=True)), crlf(f.read()))

    def test_plain_text_without_files(self):
        with Server() as server:
            self.send(server, [], "--subject", "Just text", "--body-file", self.body, "--encoding", "uu")
            (raw, envelope), = server.messages()
        self.check_envelope(raw, envelope)
        with open(self.body, "rb") as f:
            self.assertEqual(raw.split(b"\r\n\r\n", 1)[1], crlf(f.read()))

    def test_uu_many_files(self):
        files = self.binaries + self.texts
        with Server() as server:
            self.send(server, files, "--subject", "UU files", "--encoding", "uu", "--body-file", self.body)
            (raw, envelope), = server.messages()
        self.check_envelope(raw, envelope)
        message = email.message_from_bytes(raw)
        self.assertEqual(message["X-Encoding"], "UUENCODE")
        self.assertIsNone(message["Mime-Version"])
        body = raw.split(b"\r\n\r\n", 1)[1]
        blocks = re.findall(rb"^begin 600 ([^\r\n]*)\r\n(.*?)^end\r\n", body, re.S | re.M)
        self.assertEqual(len(blocks), len(files))
        out = tempfile.mkdtemp(prefix="tessaly-uu-")
        self.addCleanup(shutil.rmtree, out, True)
        for (name, lines), path in zip(blocks, files):
            self.assertEqual(name.decode(), os.path.basename(path).lower())
            target = os.path.join(out, name.decode())
            block = b"begin 600 " + name + b"\n" + lines.replace(b"\r\n", b"\n") + b"end\n"
            result = subprocess.run(["uudecode", "-o", target], input=block, capture_output=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(target, "rb") as got, open(path, "rb") as want:
                self.assertEqual(got.read(), want.read(), name)

if __name__ == "__main__":
    SEND = sys.argv.pop(1)
    unittest.main()
