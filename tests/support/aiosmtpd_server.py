#!/usr/bin/python3
"""aiosmtpd_server.py FOLDER [mode=plain|starttls|tls] [cert=PEM key=PEM] [host=127.0.0.1|::1] [auth=1|none]
[auth_clear=1] [size=N]: aiosmtpd on an OS-assigned port (printed as "PORT <n>"). PLAIN and LOGIN take
alice/secret (user busy gets a temporary 454), XOAUTH2 and OAUTHBEARER the token "good-token"; "auth=none"
offers no AUTH at all. Writes each accepted message to FOLDER/<n>.eml (data as received, dots unstuffed)
and <n>.json (envelope), one line per AUTH, MAIL and DATA to FOLDER/events. Stops at the end of stdin."""
import asyncio, base64, json, logging, os, ssl, sys
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
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos, "helo": session.host_name}, f)
        return "250 Message accepted for delivery"

    # The providers' token mechanisms: on a bad token the server sends its error as a 334 challenge
    # and refuses after the client's answer (empty for XOAUTH2, ^A for OAUTHBEARER, RFC 7628 3.2.3).
    async def auth_XOAUTH2(self, server, args):
        fields = base64.b64decode(args[1]).split(b"\1") if len(args) > 1 else []
        self.event("AUTH " + args[0])
        if b"auth=Bearer good-token" in fields:
            return AuthResult(success=True, handled=False)
        answer = await server.challenge_auth(b'{"status":"401"}')
        return AuthResult(success=False, handled=False, message="535 5.7.8 Token not accepted, answer %r" % answer)
    auth_OAUTHBEARER = auth_XOAUTH2


def authenticator(handler):
    def check(server, session, envelope, mechanism, data):
        handler.event("AUTH " + mechanism)
        if data.login == b"busy":
            return AuthResult(success=False, handled=False, message="454 4.7.0 Temporary authentication failure")
        return AuthResult(success=data.login == b"alice" and data.password == b"secret", handled=False)
    return check


async def serve(folder, options):
    context = None
    if "cert" in options:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(options["cert"], options["key"])
    handler, mode, auth = Handler(folder), options.get("mode", "plain"), options.get("auth")
    kwargs = dict(data_size_limit=int(options.get("size", 2**25)) or None, tls_context=context if mode == "starttls" else None,
                  # aiosmtpd counts only STARTTLS as TLS: implicit TLS is TLS too.
                  auth_require_tls=options.get("auth_clear") != "1" and mode != "tls")
    if auth == "1" or options.get("auth_clear") == "1":
        kwargs["authenticator"] = authenticator(handler)
    else:
        kwargs["auth_exclude_mechanism"] = ["LOGIN", "PLAIN"] + (["XOAUTH2", "OAUTHBEARER"] if auth == "none" else [])
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: SMTP(handler, **kwargs), options.get("host", "127.0.0.1"), 0,
                                      ssl=context if mode == "tls" else None)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    stop = loop.create_future()
    loop.add_reader(sys.stdin.fileno(), lambda: os.read(sys.stdin.fileno(), 4096) or stop.done() or stop.set_result(0))
    await stop
    server.close()


if __name__ == "__main__":
    asyncio.run(serve(sys.argv[1], dict(a.split("=", 1) for a in sys.argv[2:])))
