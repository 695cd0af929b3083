#!/usr/bin/python3
"""End to end: tessaly-send PATH (server from --settings) -> aiosmtpd on 127.0.0.1 -> Python's email parser.
Attachments arrive byte-exact (base64 parts; UU blocks through GNU uudecode), text parts as the file with
CR LF line breaks; BCC only in the envelope. Names, subjects and texts beyond ASCII decode exactly."""
import datetime, email, email.policy, email.utils, json, os, pathlib, random, re, subprocess, sys, tempfile, unittest

STORE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "aiosmtpd_server.py")
ENVELOPE = ["--from", "sender@example.org|Sender Name", "--to", "rcpt@example.net|Rcpt", "--cc",
            "copy1@example.net|Copy One", "--cc", "copy2@example.net", "--bcc", "hidden@example.net|Hidden"]
# Sizes around the line lengths of base64 (57) and UU (45) and a few larger.
BINARY_SIZES = [0, 1, 2, 3, 44, 45, 46, 56, 57, 58, 114, 1000, 65536, 1048576 + 7]
TEXTS = {"lf.txt": b"first line\nsecond = line\n.dot line\n\nlast\n", "crlf.txt": b"windows\r\nline\r\n\r\n",
         "mixed.txt": b"a\rb\nc\r\nno final break", "latin.txt": b"caf\xe9 cr\xe8me  \ntrailing blanks   \n\ttab\n",
         "long.txt": (b"word " * 3000).strip() + b"\n" + b"x" * 200 + b"\n", "empty.txt": b""}
HEAD = (b"From:     Sender Name<sender@example.org>\r\nTo:       Rcpt<rcpt@example.net>\r\n"
        b"CC:       Copy One<copy1@example.net>,\r\n          <copy2@example.net>\r\n")   # of ENVELOPE
BODY = b"Hello,\n.a line starting with a dot\n.\n\nGr\xfc\xdfe\n"


crlf = lambda data: re.sub(rb"\r\n|\r|\n", b"\r\n", data)
read = lambda path: pathlib.Path(path).read_bytes()


def write(path, data):
    pathlib.Path(path).write_bytes(data)
    return path


class EndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = cls.enterClassContext(tempfile.TemporaryDirectory(prefix="tessaly-files-"))
        rnd = random.Random(20261206)
        cls.binaries = [write(os.path.join(cls.dir, "Data%d.bin" % n), rnd.randbytes(n)) for n in BINARY_SIZES]
        cls.texts = [write(os.path.join(cls.dir, name), data) for name, data in TEXTS.items()]
        cls.body = write(os.path.join(cls.dir, "body.txt"), BODY)

    def send(self, files, *options, envelope=ENVELOPE):   # through a fresh aiosmtpd: [(data, envelope)] as stored
        folder = self.enterContext(tempfile.TemporaryDirectory(prefix="tessaly-store-"))
        # Leaving the block closes the server's input, which stops it, and waits for it.
        with subprocess.Popen(["/usr/bin/python3", STORE, folder], stdin=subprocess.PIPE, stdout=subprocess.PIPE) as s:
            ini = write(folder + "/tessaly.ini", b"[Setup]\r\nServer=127.0.0.1:%s\r\n" % s.stdout.readline()[5:-1])
            result = subprocess.run([SEND, "--settings", ini, "--timeout", "20"] + envelope + list(options) + files,
                                    capture_output=True)
            self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        messages = [(read("%s/%d.eml" % (folder, n)), json.loads(read("%s/%d.json" % (folder, n))))
                    for n in range(1, sum(name.endswith(".eml") for name in os.listdir(folder)) + 1)]
        for raw, stored in messages if envelope is ENVELOPE else []:
            self.assertEqual((stored["mail_from"], stored["rcpt_tos"]), ("sender@example.org", [
                "rcpt@example.net", "copy1@example.net", "copy2@example.net", "hidden@example.net"]))
            self.assertNotIn(b"hidden", raw.lower())
            self.assertTrue(raw.startswith(HEAD), raw[:300])
        return messages

    def test_mime_many_files_one_message_with_iso_text(self):
        files = self.binaries + self.texts
        (raw, _), = self.send(files, "--subject", "Many files", "--body-file", self.body, "--charset", "iso-8859-1")
        message = email.message_from_bytes(raw)
        self.assertEqual((message["Subject"], message["Mime-Version"], message["X-Encoding"]),
                         ("Many files", "1.0", "MIME"))
        parts = message.get_payload()
        self.assertEqual(len(parts), len(files) + 1)
        self.assertEqual((parts[0].get_content_type(), parts[0].get_content_charset(),
                          crlf(parts[0].get_payload(decode=True))), ("text/plain", "iso-8859-1", crlf(BODY)))
        for part, path in zip(parts[1:], files):
            data, name, payload = read(path), os.path.basename(path), part.get_payload(decode=True)
            # Text goes quoted-printable, inline, only when that gives its bytes back (not Latin-1, not mixed
            # line breaks); the rest base64 as an attachment of that name.
            qp = path.endswith(".txt") and name not in ("latin.txt", "mixed.txt")
            want = (name, "quoted-printable", None) if qp else (name, "base64", 'attachment; filename="%s"' % name)
            self.assertEqual((part.get_param("name"), part["Content-Transfer-Encoding"], part["Content-Disposition"]),
                             want)
            self.assertEqual((part.get_content_type(), crlf(payload)) if qp else payload,
                             ("text/plain", crlf(data)) if qp else data, name)

    def test_uu_many_files(self):
        files = self.binaries + self.texts
        (raw, _), = self.send(files, "--subject", "UU files", "--encoding", "uu", "--body-file", self.body)
        message = email.message_from_bytes(raw)
        self.assertEqual((message["X-Encoding"], message["Content-Transfer-Encoding"], message.get_content_charset()),
                         ("UUENCODE", "8bit", "utf-8"))
        # The Latin-1 text of a UU message goes as UTF-8, labelled so, before the blocks.
        text = raw.split(b"\r\n\r\n", 1)[1]
        self.assertTrue(text.startswith(crlf(BODY.decode("latin-1").encode()) + b"\r\nbegin 600 "), text[:200])
        blocks = re.findall(rb"^(begin 600 ([^\r\n]*)\r\n.*?^end\r\n)", text, re.S | re.M)
        self.assertEqual([name.decode() for _, name in blocks], [os.path.basename(path).lower() for path in files])
        out = self.enterContext(tempfile.TemporaryDirectory(prefix="tessaly-uu-"))
        for (block, name), path in zip(blocks, files):   # uudecode writes the file the block names, in `out`
            result = subprocess.run(["uudecode"], input=block.replace(b"\r\n", b"\n"), cwd=out, capture_output=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(read(os.path.join(out, name.decode())), read(path), name)

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
                head = raw.split(b"\r\n\r\n", 1)[0].split(b"\r\n")
                self.assertEqual([line for line in head if not line.isascii() or len(line) > 998], [])
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
                    data = part.get_payload(decode=True)
                    self.assertEqual((part["Content-Disposition"].params["filename"], part.get_param("name"),
                                      part.get_content_charset(), crlf(data) if text else data),
                                     (name, name, "utf-8" if text else None, read(path)))
            self.assertEqual(len(ids), len(messages))


if __name__ == "__main__":
    SEND = sys.argv.pop(1)
    unittest.main()
