"""interop_encode.py PATH-TO-tessaly-encode: the tool's output and every encoder golden file, decoded by GNU
uudecode, coreutils "base64 -d" and Python's email package (in a multipart message as the mailer sends it)."""
import email, pathlib, random, subprocess, sys, tempfile, unittest

DATA = pathlib.Path(__file__).parent.parent / "data" / "encoding"


def encode(kind, data, *options):
    """The lines of `data` as tessaly-encode prints them, each ended by CR LF."""
    with tempfile.NamedTemporaryFile() as f:
        f.write(data)
        f.flush()
        out = subprocess.run([TOOL, *options, kind, f.name], capture_output=True, check=True).stdout
    assert out.endswith(b"\r\n") or out == b"", out[-10:]
    return out


def mailed(encoding, body):
    """The payload of `body` (CR LF lines) decoded from the last part of a multipart message, as the mailer sends it."""
    message = (b'Mime-Version: 1.0\r\nContent-Type: multipart/mixed; boundary="01234567"\r\n\r\n'
               b"This is a multi-part message in MIME format.\r\n\r\n--01234567\r\n"
               b'Content-Type: text/plain; charset="us-ascii"\r\nContent-Transfer-Encoding: 7bit\r\n\r\ntext\r\n\r\n'
               b"--01234567\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: " + encoding
               + b"\r\n\r\n" + body + b"\r\n--01234567--\r\n")
    return list(email.message_from_bytes(message).walk())[-1].get_payload(decode=True)


def uudecode(lines):
    run = subprocess.run(["uudecode", "-o", "/dev/stdout"], input=b"\n".join([b"begin 600 x", *lines, b"end", b""]),
                         capture_output=True)
    return run.returncode, run.stdout, run.stderr


class Decoders(unittest.TestCase):
    def decodes(self, kind, data, out):
        """`out`, `data` encoded as `kind`, decodes to `data` (quoted-printable text: with CR LF line breaks)."""
        if kind == "qp":
            crlf = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").replace(b"\n", b"\r\n")
            self.assertEqual(mailed(b"quoted-printable", out), crlf)
        elif kind == "b64":
            self.assertEqual(mailed(b"base64", out), data)
            coreutils = subprocess.run(["base64", "-d"], input=out.replace(b"\r", b""), capture_output=True, check=True)
            self.assertEqual(coreutils.stdout, data)
        else:
            lines = out.split(b"\r\n")[:-1]
            rc, decoded, err = uudecode(lines + [b"`"])   # as mailed, with the closing line
            self.assertEqual(decoded, data)
            if len(data) % 45 == 0:
                # The encoder's own zero-length line already ends the data; GNU uudecode wants "end" right after it.
                self.assertEqual(lines[-1][:1], b"`")
                rc, decoded, err = uudecode(lines)
            self.assertEqual((rc, decoded), (0, data), err)

    def test_golden_files_are_what_the_tool_prints_and_decode_to_their_input(self):
        for golden in sorted(p for p in DATA.iterdir() if p.suffix in (".b64", ".uu", ".qp")):
            with self.subTest(golden=golden.name):
                data, kind = golden.with_suffix(".in").read_bytes(), golden.suffix[1:]
                self.assertEqual(encode(kind, data), golden.read_bytes())
                self.decodes(kind, data, golden.read_bytes())

    def test_generated_data_decodes(self):
        rng = random.Random(4)
        ends = [b"\n", b"\r\n", b"\r", b"\n\r", b"\r\r", b"\n\n", b" \n", b"\t\r\n"]
        mix = b"".join(bytes(rng.choice(b"abc  =.\t\xe9\xff") for _ in range(rng.randrange(150))) + rng.choice(ends)
                       for _ in range(8000))
        # Text past the encoder's 256 KiB reads, also with a CR LF split between two; binary data of every length
        # around the line blocks, and 1 MiB.
        inputs = [("qp", "text", mix), ("qp", "CR LF across reads", mix[:262143] + b"\r\n" + mix[262145:])]
        for kind, block in (("uu", 45), ("b64", 57)):
            sizes = set(range(0, 201)) | {k * block + d for k in range(1, 25) for d in (-1, 0, 1)}
            inputs += [(kind, n, rng.randbytes(n)) for n in sorted(sizes)] + [(kind, "1 MiB", rng.randbytes(1 << 20))]
        for kind, name, data in inputs:
            with self.subTest(kind=kind, input=name):
                self.decodes(kind, data, encode(kind, data))

    def test_windows_give_the_whole_file_output(self):
        # UU and base64 go in windows of 16384 lines: the joins must not show, nor the last window's short block.
        rng = random.Random(6)
        for kind, block in (("uu", 45), ("b64", 57)):
            window = 16384 * block
            for size in (window, window + 1, window + block, window + block + 1, window + 2 * block - 1,
                         2 * window + block + 1, 2 * window + 3 * block):
                with self.subTest(kind=kind, size=size):
                    data = rng.randbytes(size)
                    self.assertEqual(encode(kind, data), encode(kind, data, "--whole"))

    def test_errors_fail_with_their_message(self):
        self.assertIn(b"Usage", subprocess.run([TOOL, "--help"], capture_output=True, check=True).stdout)
        with tempfile.NamedTemporaryFile() as f:
            f.write(b"ok\n" + b"p" * 24576 + b"\n")
            f.flush()
            for args, message in ((["zz", "x"], b""), (["b64", "/nonexistent/file"], b"/nonexistent/file"),
                                  (["qp", f.name], b"Paragraph is too large")):
                with self.subTest(args=args):
                    run = subprocess.run([TOOL] + args, capture_output=True)
                    self.assertNotEqual(run.returncode, 0)
                    self.assertIn(message, run.stderr)
                    self.assertEqual(run.stdout, b"")


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
