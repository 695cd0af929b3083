#!/usr/bin/python3
"""End to end: tessaly-send PATH (server from --settings) -> aiosmtpd on 127.0.0.1 -> Python's email parser.
Attachments arrive byte-exact (base64 parts; UU blocks through GNU uudecode), text parts as the file with
CR LF line breaks; BCC only in the envelope. Names, subjects and texts beyond ASCII decode exactly."""
import datetime, email, email.policy, email.utils, json, os, pathlib, random, re, shutil, subprocess, sys, tempfile
import unittest

STORE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "aiosmtpd_server.py")
SEND = None
ENVELOPE = ["--from", "sender@example.org|Sender Name", "--to", "rcpt@example.net|Rcpt", "--cc",
            "copy1@example.net|Copy One", "--cc", "copy2@example.net", "--bcc", "hidden@example.net|Hidden"]
# Sizes around the line lengths of base64 (57) and UU (45) and a few larger.
BINARY_SIZES = [0, 1, 2, 3, 44, 45, 46, 56, 57, 58, 114, 1000, 65536, 1048576 + 7]
TEXTS = {
    "lf.txt": b"first line\nsecond = line\n.dot line\n\nlast\n",
    "crlf.txt": b"windows\r\nline\r\n\r\n",
    "mixed.txt": b"a\rb\nc\r\nno final break",
    "latin.txt": b"caf\xe9 cr\xe8me  \ntrailing blanks   \n\ttab\n",
    "long.txt": (b"word " * 3000).strip() + b"\n" + b"x" * 200 + b"\n",
    "empty.txt": b"",
}
BODY = b"Hello,\n.a line starting with a dot\n.\n\nGr\xfc\xdfe\n"


def crlf(data):
    return re.sub(rb"\r\n|\r|\n", b"\r\n", data)


def read(path):
    return pathlib.Path(path).read_bytes()


def write(path, data):
    pathlib.Path(path).write_bytes(data)
    return path


class EndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="tessaly-files-")
        cls.addClassCleanup(shutil.rmtree, cls.dir, True)
        rnd = random.Random(20261206)
        cls.binaries = [write(os.path.join(cls.dir, "Data%d.bin" % n), rnd.randbytes(n)) for n in BINARY_SIZES]
        cls.texts = [write(os.path.join(cls.dir, name), data) for name, data in TEXTS.items()]
        cls.body = write(os.path.join(cls.dir, "body.txt"), BODY)

    def send(self, files, *options, envelope=ENVELOPE):
        """Sends through a fresh aiosmtpd; returns [(data, envelope)] as stored."""
        folder = tempfile.mkdtemp(prefix="tessaly-store-")
        self.addCleanup(shutil.rmtree, folder, True)
        server = subprocess.Popen(["/usr/bin/python3", STORE, folder], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            ini = write(folder + "/tessaly.ini", b"[Setup]\r\nServer=127.0.0.1:%s\r\n" % server.stdout.readline().split()[1])
            result = subprocess.run([SEND, "--settings", ini, "--timeout", "20"] + envelope + list(options) + files,
                                    capture_output=True)
            self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        finally:
            server.stdin.close()
            server.wait(timeout=10)
            server.stdout.close()
        count = len([n for n in os.listdir(folder) if n.endswith(".eml")])
        messages = [(read("%s/%d.eml" % (folder, n)), json.loads(read("%s/%d.json" % (folder, n))))
                    for n in range(1, count + 1)]
        for raw, stored in messages if envelope is ENVELOPE else []:
            self.assertEqual(stored["mail_from"], "sender@example.org")
            self.assertEqual(stored["rcpt_tos"], ["rcpt@example.net", "copy1@example.net", "copy2@example.net",
                                                    "hidden@example.net"])
            self.assertNotIn(b"hidden", raw.lower())
            head = raw.split(b"\r\n\r\n", 1)[0]
            self.assertTrue(head.startswith(b"From:     Sender Name<sender@example.org>\r\n"
                                            b"To:       Rcpt<rcpt@example.net>\r\n"
                                            b"CC:       Copy One<copy1@example.net>,\r\n"
                                            b"          <copy2@example.net>\r\n"), head)
        return messages

    def check_mime(self, raw, files, subject, body=b"", charset="us-ascii"):
        message = email.message_from_bytes(raw)
        self.assertEqual((message["Subject"], message["Mime-Version"], message["X-Encoding"]), (subject, "1.0", "MIME"))
        parts = message.get_payload()
        self.assertEqual(len(parts), len(files) + 1)
        self.assertEqual((parts[0].get_content_type(), parts[0].get_content_charset(),
                          crlf(parts[0].get_payload(decode=True))), ("text/plain", charset, crlf(body)))
        for part, path in zip(parts[1:], files):
            data, name = read(path), os.path.basename(path)
            self.assertEqual(part.get_param("name"), name)
            # Text goes quoted-printable only when that gives its bytes back
            # (not Latin-1, not mixed line breaks).
            if path.endswith(".txt") and name not in ("latin.txt", "mixed.txt"):
                self.assertEqual(part.get_content_type(), "text/plain")
                self.assertEqual(part["Content-Transfer-Encoding"], "quoted-printable")
                self.assertIsNone(part["Content-Disposition"])
                self.assertEqual(crlf(part.get_payload(decode=True)), crlf(data), name)
            else:
                self.assertEqual((part["Content-Transfer-Encoding"], part.get_filename()), ("base64", name))
                self.assertEqual(part.get_payload(decode=True), data, name)

    def test_mime_many_files_one_message_with_iso_text(self):
        files = self.binaries + self.texts
        (raw, _), = self.send(files, "--subject", "Many files", "--body-file", self.body, "--charset", "iso-8859-1")
        self.check_mime(raw, files, "Many files", BODY, "iso-8859-1")

    def test_plain_text_without_files(self):
        (raw, _), = self.send([], "--subject", "Just text", "--body-file", self.body, "--encoding", "uu")
        # The Latin-1 text of a UU message goes as UTF-8, labelled so.
        self.assertEqual(raw.split(b"\r\n\r\n", 1)[1], crlf(BODY.decode("latin-1").encode()))
        self.assertEqual(email.message_from_bytes(raw).get_content_charset(), "utf-8")

    def test_uu_many_files(self):
        files = self.binaries + self.texts
        (raw, _), = self.send(files, "--subject", "UU files", "--encoding", "uu", "--body-file", self.body)
        message = email.message_from_bytes(raw)
        self.assertEqual((message["X-Encoding"], message["Content-Transfer-Encoding"]), ("UUENCODE", "8bit"))
        blocks = re.findall(rb"^begin 600 ([^\r\n]*)\r\n(.*?)^end\r\n", raw.split(b"\r\n\r\n", 1)[1], re.S | re.M)
        self.assertEqual(len(blocks), len(files))
        out = tempfile.mkdtemp(prefix="tessaly-uu-")
        self.addCleanup(shutil.rmtree, out, True)
        for (name, lines), path in zip(blocks, files):
            self.assertEqual(name.decode(), os.path.basename(path).lower())
            target = os.path.join(out, name.decode())
            block = b"begin 600 " + name + b"\n" + lines.replace(b"\r\n", b"\n") + b"end\n"
            result = subprocess.run(["uudecode", "-o", target], input=block, capture_output=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(read(target), read(path), name)

    def test_names_subject_text_and_files_beyond_ascii(self):
        subject = "Grüße, Привет, 日本語のテスト 😀 — a subject long enough that it has to be folded"
        body = "Zoë schreibt:\n.Пётр\n日本 😀\n".encode()
        files = [write(os.path.join(self.dir, "Résumé 2026 – 日本.pdf"), bytes(range(256)) * 40),
                 write(os.path.join(self.dir, "notes ü.txt"), "über\r\nnaïve\r\n".encode())]
        body_file = write(os.path.join(self.dir, "body-utf8.txt"), body)
        envelope = ["--from", "zoe@example.org|Zoë Ünal", "--to", "petr@example.net|Пётр Иванов",
                    "--cc", "mz@example.net|Müller, Zoë"]
        for options in [[], ["--one-file-per-message"]]:
            messages = self.send(files, "--subject", subject, "--body-file", body_file, "--charset", "utf-8", *options,
                                 envelope=envelope)
            self.assertEqual(len(messages), 2 if options else 1)
            ids = set()
            for (raw, _), sent in zip(messages, [files[:1], files[1:]] if options else [files]):
                head = raw.split(b"\r\n\r\n", 1)[0]
                for line in head.split(b"\r\n"):
                    self.assertTrue(line.isascii() and len(line) <= 998, line)
                message = email.message_from_bytes(raw, policy=email.policy.default)
                self.assertEqual(message["Subject"], subject)
                self.assertEqual([a.display_name for h in ("From", "To", "Cc") for a in message[h].addresses],
                                 ["Zoë Ünal", "Пётр Иванов", "Müller, Zoë"])
                self.assertEqual((len(message.get_all("Date")), len(message.get_all("Message-ID"))), (1, 1))
                date = email.utils.parsedate_to_datetime(message["Date"])   # aware, so it has a zone
                self.assertLess(abs(datetime.datetime.now(datetime.timezone.utc) - date), datetime.timedelta(minutes=5))
                self.assertRegex(message["Message-ID"], r"^<[0-9A-F]{32,}@example\.org>$")
                ids.add(message["Message-ID"])
                text, *parts = message.iter_parts()
                self.assertEqual(crlf(text.get_payload(decode=True)), crlf(body))
                self.assertEqual(text.get_content_charset(), "utf-8")
                for part, path in zip(parts, sent):
                    name, text = os.path.basename(path), path.endswith(".txt")
                    self.assertEqual((part["Content-Disposition"].params["filename"], part.get_param("name")), (name, name))
                    self.assertEqual(part.get_content_charset(), "utf-8" if text else None)
                    self.assertEqual(crlf(part.get_payload(decode=True)) if text else part.get_payload(decode=True), read(path))
            self.assertEqual(len(ids), len(messages))


if __name__ == "__main__":
    SEND = sys.argv.pop(1)
    unittest.main()
