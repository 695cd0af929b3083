#!/usr/bin/python3
"""aiosmtpd_server.py FOLDER [plain|starttls|tls] [CERT pki=DIR] [host=127.0.0.1|::1] [auth=1|none|clear] [size=N]
[pace=slow|reset]: aiosmtpd on an OS-assigned port (printed as "PORT <n>") with DIR/CERT.pem and .key. PLAIN, LOGIN
take alice/secret (busy: a temporary 454, app: 534), XOAUTH2, OAUTHBEARER "good-token"; none: no AUTH, clear: AUTH
without TLS. Stores messages as FOLDER/<n>.eml (dots unstuffed) and <n>.json (envelope), each AUTH, MAIL and DATA as a
line of FOLDER/events. pace=slow takes 16 KiB every 50 ms through a small window, reset resets after 256 KiB."""
import asyncio, base64, json, logging, os, pathlib, socket, ssl, struct, sys, time
from aiosmtpd.smtp import SMTP, AuthResult

logging.getLogger("mail.log").setLevel(logging.ERROR)   # aiosmtpd warns of its own deprecated login_data


class Handler:
    def __init__(self, folder):
        self.folder, self.count = folder, 0

    def event(self, text):
        with open(os.path.join(self.folder, "events"), "a") as f:
            f.write(text + "\n")

    async def handle_MAIL(self, server, session, envelope, address, options):
        self.event("MAIL" + (" SIZE" if any(o.upper().startswith("SIZE=") for o in options) else ""))
        envelope.mail_from = address
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        self.event("DATA")
        base = os.path.join(self.folder, "%d" % self.count)
        pathlib.Path(base + ".eml").write_bytes(envelope.original_content)
        pathlib.Path(base + ".json").write_text(json.dumps({"mail_from": envelope.mail_from,
                                                            "rcpt_tos": envelope.rcpt_tos, "helo": session.host_name}))
        return "250 Message accepted for delivery"

    def check(self, server, session, envelope, mechanism, data):   # PLAIN and LOGIN
        self.event("AUTH " + mechanism)
        refusals = {b"busy": "454 4.7.0 Try again later", b"app": "534 5.7.9 Application-specific password required"}
        return AuthResult(success=data.login == b"alice" and data.password == b"secret", handled=False,
                          message=refusals.get(data.login))

    # The providers' token mechanisms: on a bad token the server sends its error as a 334 challenge
    # and refuses after the client's answer (empty for XOAUTH2, ^A for OAUTHBEARER, RFC 7628 3.2.3).
    async def auth_XOAUTH2(self, server, args):
        self.event("AUTH " + args[0])
        if len(args) > 1 and b"auth=Bearer good-token" in base64.b64decode(args[1]).split(b"\1"):
            return AuthResult(success=True, handled=False)
        answer = await server.challenge_auth(b'{"status":"401"}')
        return AuthResult(success=False, handled=False, message="535 5.7.8 Token not accepted, answer %r" % answer)
    auth_OAUTHBEARER = auth_XOAUTH2


class Paced(SMTP):
    pace, taken = None, 0

    def data_received(self, data):
        super().data_received(data)
        self.taken += len(data)
        if self.pace == "reset" and self.taken > 256 * 1024:   # RST, not FIN: linger 0
            linger = struct.pack("ii", 1, 0)
            self.transport.get_extra_info("socket").setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, linger)
            self.transport.abort()
        elif self.pace:   # the whole server waits: the next read comes 50 ms later (the client is alone)
            time.sleep(0.05)


async def serve(folder, options):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    if "cert" in options:
        context.load_cert_chain(*(os.path.join(options["pki"], options["cert"] + end) for end in (".pem", ".key")))
    handler, mode, auth = Handler(folder), options.get("mode", "plain"), options.get("auth")
    Paced.pace = options.get("pace")
    # aiosmtpd counts only STARTTLS as TLS: implicit TLS is TLS too.
    kwargs = dict(data_size_limit=int(options.get("size", 2**25)), tls_context=context if mode == "starttls" else None,
                  auth_require_tls=auth != "clear" and mode != "tls")
    if auth in ("1", "clear"):
        kwargs["authenticator"] = handler.check
    else:
        kwargs["auth_exclude_mechanism"] = ["LOGIN", "PLAIN"] + (["XOAUTH2", "OAUTHBEARER"] if auth == "none" else [])
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: Paced(handler, **kwargs), options.get("host", "127.0.0.1"), 0,
                                      ssl=context if mode == "tls" else None)
    if Paced.pace:
        server.sockets[0].setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)   # inherited: a small window
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    stop = loop.create_future()
    loop.add_reader(sys.stdin.fileno(), lambda: os.read(sys.stdin.fileno(), 4096) or stop.done() or stop.set_result(0))
    await stop
    server.close()


if __name__ == "__main__":
    name = lambda word: "mode" if word in ("plain", "starttls", "tls") else "cert"   # of a word without "="
    asyncio.run(serve(sys.argv[1], dict(a.split("=", 1) if "=" in a else (name(a), a) for a in sys.argv[2:])))
