"""Decodes tessaly-encode's output with independent decoders: base64 with
Python's email package and coreutils "base64 -d", UU with GNU uudecode,
quoted-printable with Python's email package in a multipart message laid out
as the mailer sends it. Usage: interop_encode.py PATH-TO-tessaly-encode
"""
import email, pathlib, random, subprocess, sys, tempfile, unittest

TOOL = None

DATA = pathlib.Path(__file__).parent.parent / "data" / "encoding"
# The inputs of the C++ encoder tests: line breaks of every kind, blank
# lines, trailing blanks, Latin-1, "=", dot lines, control bytes, long words.
TEXT_SAMPLES = {path.stem: path.read_bytes() for path in sorted(DATA.glob("*.in"))}


def run_tool(kind, data, *options):
    with tempfile.NamedTemporaryFile() as f:
        f.write(data)
        f.flush()
        return subprocess.run([TOOL, *options, kind, f.name], capture_output=True, check=True).stdout


def lines_of(output):
    assert output.endswith(b"\r\n") or output == b"", output[-10:]
    return output.split(b"\r\n")[:-1]


def mailed(encoding, lines):
    """The decoded payload of the lines as the mailer sends them: in the last
    part of a multipart message, after the part headers and an empty line,
    followed by an empty line and the closing boundary."""
    message = (b"Mime-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"01234567\"\r\n\r\n"
               b"This is a multi-part message in MIME format.\r\n\r\n--01234567\r\n"
               b"Content-Type: text/plain; charset=\"us-ascii\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
               b"text\r\n\r\n--01234567\r\nContent-Type: application/octet-stream\r\n"
               b"Content-Transfer-Encoding: " + encoding + b"\r\n\r\n"
               + b"".join(l + b"\r\n" for l in lines) + b"\r\n--01234567--\r\n")
    return list(email.message_from_bytes(message).walk())[-1].get_payload(decode=True)


def crlf_breaks(data):
    return data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").replace(b"\n", b"\r\n")


def binary_spread(block):
    rng = random.Random(block)
    sizes = set(range(0, 201))
    for k in range(1, 25):
        sizes.update({k * block - 1, k * block, k * block + 1})
    inputs = [(n, bytes(rng.getrandbits(8) for _ in range(n))) for n in sorted(sizes)]
    inputs.append(("1 MiB", rng.randbytes(1 << 20)))
    return inputs


class Base64(unittest.TestCase):
    def test_decodes_byte_exact(self):
        for name, data in binary_spread(57):
            with self.subTest(input=name):
                out = run_tool("b64", data)
                self.assertEqual(mailed(b"base64", lines_of(out)), data)
                coreutils = subprocess.run(["base64", "-d"], input=out.replace(b"\r", b""),
                                           capture_output=True, check=True).stdout
                self.assertEqual(coreutils, data)


class UUencode(unittest.TestCase):
    def uudecode(self, lines):
        framed = b"\n".join([b"begin 600 x"] + lines + [b"end"]) + b"\n"
        proc = subprocess.run(["uudecode", "-o", "/dev/stdout"], input=framed, capture_output=True)
        return proc.returncode, proc.stderr, proc.stdout

    def test_decodes_byte_exact(self):
        for name, data in binary_spread(45):
            with self.subTest(input=name):
                lines = lines_of(run_tool("uu", data))
                rc, err, decoded = self.uudecode(lines + [b"`"])
                self.assertEqual(decoded, data)
                if len(data) % 45:
                    self.assertEqual(rc, 0, err)
                else:
                    # The encoder's own zero-length line already ends the
                    # data; GNU uudecode wants "end" right after it and
                    # complains about the extra closing line.
                    self.assertEqual(lines[-1][:1], b"`")
                    rc, err, decoded = self.uudecode(lines)
                    self.assertEqual((rc, decoded), (0, data), err)


class QuotedPrintable(unittest.TestCase):
    def test_decodes_to_the_text_with_crlf_breaks(self):
        rng = random.Random(4)
        samples = dict(TEXT_SAMPLES)
        ends = [b"\n", b"\r\n", b"\r", b"\n\r", b"\r\r", b"\n\n", b" \n", b"\t\r\n"]
        samples["random mix"] = b"".join(
            bytes(rng.choice(b"abc  =.\t\xe9\xff") for _ in range(rng.randrange(150))) + rng.choice(ends)
            for _ in range(8000))
        # Past the encoder's 256 KiB reads, with a CR LF split between two.
        samples["break across reads"] = samples["random mix"][:262143] + b"\r\n" + samples["random mix"][262145:]
        for name, data in samples.items():
            with self.subTest(input=name):
                self.assertEqual(mailed(b"quoted-printable", lines_of(run_tool("qp", data))), crlf_breaks(data))


class Tool(unittest.TestCase):
    def test_windows_give_the_whole_file_output(self):
        # The tool feeds UU and base64 in windows of 16384 lines; the joins
        # must not show, the last window's short block included.
        rng = random.Random(6)
        for kind, block in (("uu", 45), ("b64", 57)):
            window = 16384 * block
            for size in (window, window + 1, window + block, window + block + 1, window + 2 * block - 1,
                         2 * window + block + 1, 2 * window + 3 * block):
                with self.subTest(kind=kind, size=size):
                    data = rng.randbytes(size)
                    self.assertEqual(run_tool(kind, data), run_tool(kind, data, "--whole"))

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
