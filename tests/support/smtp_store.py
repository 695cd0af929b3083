#!/usr/bin/python3
"""smtp_store.py FOLDER: aiosmtpd on 127.0.0.1 (OS-assigned port, printed as "PORT <n>") storing
message n as FOLDER/<n>.eml (data as received, dots unstuffed) and <n>.json (envelope); stops at end of stdin."""
import asyncio, json, os, sys

from aiosmtpd.smtp import SMTP


class StoreHandler:
    def __init__(self, folder):
        self.folder, self.count = folder, 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "%d" % self.count)
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos, "helo": session.host_name}, f)
        return "250 Message accepted for delivery"


async def serve(folder):
    loop = asyncio.get_running_loop()
    handler = StoreHandler(folder)   # one for all connections: numbers go on
    server = await loop.create_server(lambda: SMTP(handler, data_size_limit=None), "127.0.0.1", 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    stop = loop.create_future()
    loop.add_reader(sys.stdin.fileno(), lambda: os.read(sys.stdin.fileno(), 4096) or stop.done() or stop.set_result(0))
    await stop
    server.close()
    await server.wait_closed()


if __name__ == "__main__":
    asyncio.run(serve(sys.argv[1]))
