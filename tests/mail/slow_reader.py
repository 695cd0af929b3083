#!/usr/bin/python3
"""slow_reader.py FOLDER MODE: one SMTP session on 127.0.0.1 (port printed as "PORT <n>") whose message is
taken slowly, 16 KiB every 50 ms through a small receive window. MODE "slow" reads it all and accepts
it; "stall" stops reading after 256 KiB, until its input ends; "reset" resets the connection there;
"421" says why first."""
import socket
import struct
import sys
import time

CHUNK, PAUSE, LIMIT = 16384, 0.05, 256 * 1024
mode = sys.argv[2]   # argv[1]: a folder, unused
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
    if verb != b"DATA":
        continue
    taken, tail = 0, b""
    while not tail.endswith(b"\r\n.\r\n"):
        chunk = reader.read1(CHUNK)
        if not chunk:
            sys.exit(0)
        taken, tail = taken + len(chunk), (tail + chunk)[-5:]
        if taken > LIMIT and mode == "421":
            conn.sendall(b"421 4.4.2 slow.test Error: timeout exceeded\r\n")
            mode = "reset"
        if taken > LIMIT and mode == "reset":
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            conn.close()
            sys.exit(0)
        if taken > LIMIT and mode == "stall":
            sys.stdin.read()   # until the test ends
            sys.exit(0)
        time.sleep(PAUSE)
    conn.sendall(b"250 queued\r\n")
