#!/usr/bin/python3
"""aiosmtpd_server.py FOLDER [mode=plain|starttls|tls] [cert=PEM key=PEM] [host=127.0.0.1|::1]
[require_starttls=1] [auth=1] [auth_clear=1] [size=N]: aiosmtpd on an OS-assigned port (printed as
"PORT <n>"). Users: alice/secret for PLAIN and LOGIN, token "good-token" for XOAUTH2. Writes each
accepted message to FOLDER/<n>.eml (data as received, dots unstuffed) and <n>.json (envelope), and one
line per AUTH, MAIL and DATA to FOLDER/events. Stops at the end of stdin."""
import asyncio
import base64
import json
import os
import ssl
import logging
import sys

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

    # XOAUTH2 (the providers' mechanism): on a bad token the server sends its
    # error as a 334 challenge and refuses after the client's empty answer.
    async def auth_XOAUTH2(self, server, args):
        fields = base64.b64decode(args[1]).split(b"\1") if len(args) > 1 else []
        self.event("AUTH XOAUTH2")
        if b"auth=Bearer good-token" in fields:
            return AuthResult(success=True, handled=False)
        await server.challenge_auth(b'{"status":"401"}')
        return AuthResult(success=False, handled=False, message="535 5.7.8 Username and Password not accepted")


def authenticator(handler):
    def check(server, session, envelope, mechanism, data):
        handler.event("AUTH " + mechanism)
        ok = data.login == b"alice" and data.password == b"secret"
        return AuthResult(success=ok, handled=False)
    return check


async def serve(folder, options):
    context = None
    if "cert" in options:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(options["cert"], options["key"])
    handler = Handler(folder)
    mode = options.get("mode", "plain")
    kwargs = dict(data_size_limit=int(options.get("size", 2**25)) or None,
                  require_starttls=options.get("require_starttls") == "1",
                  # aiosmtpd counts only STARTTLS as TLS: implicit TLS is TLS too.
                  auth_require_tls=options.get("auth_clear") != "1" and mode != "tls")
    if mode == "starttls":
        kwargs["tls_context"] = context
    if options.get("auth") == "1" or options.get("auth_clear") == "1":
        kwargs["authenticator"] = authenticator(handler)
    else:
        kwargs["auth_exclude_mechanism"] = ["LOGIN", "PLAIN"]
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
