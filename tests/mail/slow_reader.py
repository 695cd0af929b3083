#!/usr/bin/python3
"""slow_reader.py FOLDER mode=MODE: one SMTP session on 127.0.0.1 (port printed as "PORT <n>") whose message is
taken slowly, 16 KiB every 50 ms through a small receive window. MODE "slow" reads it all and accepts
it; after 256 KiB, "stall" stops reading until its input ends, "reset" resets the connection, "421"
says why first and resets."""
import socket, struct, sys, time

CHUNK, PAUSE, LIMIT = 16384, 0.05, 256 * 1024
mode = sys.argv[2].removeprefix("mode=")   # argv[1]: a folder, unused
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, CHUNK)   # inherited: a small window
server.bind(("127.0.0.1", 0))
server.listen(1)
print("PORT %d" % server.getsockname()[1], flush=True)
conn, _ = server.accept()
reader = conn.makefile("rb")
conn.sendall(b"220 slow.test\r\n")
for line in reader:
    verb = line[:4].upper()
    conn.sendall(b"354 go ahead\r\n" if verb == b"DATA" else b"221 bye\r\n" if verb == b"QUIT" else b"250 ok\r\n")
    if verb == b"QUIT":
        break
    taken, tail = 0, b""
    while verb == b"DATA" and not tail.endswith(b"\r\n.\r\n"):
        chunk = reader.read1(CHUNK)
        taken, tail = taken + len(chunk), (tail + chunk)[-5:]
        if not chunk or taken > LIMIT and mode == "stall":
            sys.stdin.read()   # until the test ends
            sys.exit()
        if taken > LIMIT and mode in ("421", "reset"):
            conn.sendall(b"421 4.4.2 slow.test Error: timeout exceeded\r\n" if mode == "421" else b"")
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            conn.close()
            sys.exit()
        time.sleep(PAUSE)
    if verb == b"DATA":
        conn.sendall(b"250 queued\r\n")
