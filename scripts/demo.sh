#!/usr/bin/env bash
# Builds Tessaly and opens it against a local capture SMTP server.
#
#   bash scripts/demo.sh
#
# On a fresh Debian 12 machine (as root) it first installs what is missing.
# The capture server listens on 127.0.0.1 only (a free port) and stores
# every message it receives as one file in mailbox/ of this working tree.
# The demo builds in build-demo/ (Release), apart from the tests' build/,
# so that neither rebuilds the other.
# The program gets a settings file beside it (build-demo/app/tessaly.ini) that
# names that server, a sender and a few sample addresses. Select addresses,
# drop a file on the window and look in mailbox/. Closing the window stops
# the capture server.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# libqt6svg6 brings the plugin that draws the window icon.
bash scripts/deps.sh libqt6svg6

echo "== Building (build-demo/, Release)"
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-demo -j "$(nproc)" --target tessaly
program="$root/build-demo/app/tessaly"
settings="$root/build-demo/app/tessaly.ini"
# A session without a runtime folder (a root shell, ssh) gets a private one,
# as the desktop would give it.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  chmod 700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
fi

# ---- the capture server ----------------------------------------------------
mailbox="$root/mailbox"
mkdir -p "$mailbox"
state=$(mktemp -d)
cat >"$state/capture.py" <<'PY'
import asyncio, datetime, os, signal, sys
from aiosmtpd.smtp import SMTP

class Capture:
    def __init__(self, folder):
        self.folder = folder

    async def handle_DATA(self, server, session, envelope):
        stamp = datetime.datetime.now().strftime("%Y%m%d-%H%M%S-%f")
        path = os.path.join(self.folder, stamp + ".eml")
        with open(path, "wb") as f:
            f.write(b"X-Envelope-From: " + envelope.mail_from.encode() + b"\r\n")
            f.write(b"X-Envelope-To: " + ", ".join(envelope.rcpt_tos).encode() + b"\r\n")
            f.write(envelope.original_content)
        print("   received: mailbox/%s (to %s)" % (os.path.basename(path), ", ".join(envelope.rcpt_tos)), flush=True)
        return "250 Message accepted for delivery"

async def main(folder, port_file):
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: SMTP(Capture(folder), data_size_limit=None),
                                      host="127.0.0.1", port=0)
    with open(port_file, "w") as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    await stop
    server.close()

asyncio.run(main(sys.argv[1], sys.argv[2]))
PY
/usr/bin/python3 "$state/capture.py" "$mailbox" "$state/port" &
capture=$!
stop_capture() {
  kill "$capture" 2>/dev/null && wait "$capture" 2>/dev/null || true
  rm -rf "$state"
}
trap stop_capture EXIT
for _ in $(seq 100); do
  [ -s "$state/port" ] && break
  kill -0 "$capture" 2>/dev/null || { echo "The capture server did not start." >&2; exit 1; }
  sleep 0.1
done
[ -s "$state/port" ] || { echo "The capture server did not start in time." >&2; exit 1; }
port=$(cat "$state/port")
echo "== Capture SMTP server on 127.0.0.1:$port, mail goes to mailbox/"

# ---- the settings file -------------------------------------------------------
# A file written here carries the section "Demo"; an existing file of the
# user's own is kept (a copy goes to tessaly.ini.before-demo) and only its
# server is pointed at the capture server.
/usr/bin/python3 - "$settings" "$port" <<'PY'
import os, shutil, sys
path, port = sys.argv[1], sys.argv[2]
server = "Server=127.0.0.1:%s" % port
if not os.path.exists(path):
    lines = ["[Setup]", server, "EMail Address=you@example.com", "Name=Tessaly Demo",
             "MsgText=0", "MsgSubject=1", "ShowSuccess=1",
             "[Addresses]", "anAddress0=alice@example.org", "anAddress1=bob@example.org",
             "anAddress2=carol@example.org",
             "[Demo]", "WrittenBy=scripts/demo.sh"]
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    sys.exit(0)
with open(path, newline="") as f:
    text = f.read()
if "[demo]" not in text.lower():
    shutil.copyfile(path, path + ".before-demo")
    print("   your settings are kept (copy: %s.before-demo); only Server is changed" % path)
lines = text.splitlines()
section, done, out = "", False, []
for line in lines:
    stripped = line.strip()
    if stripped.startswith("[") and stripped.endswith("]"):
        if section == "setup" and not done:
            out.append(server)
            done = True
        section = stripped[1:-1].strip().lower()
    elif section == "setup" and stripped.split("=", 1)[0].strip().lower() == "server":
        if not done:
            out.append(server)
            done = True
        continue
    out.append(line)
if not done:
    if section != "setup":
        out.append("[Setup]")
    out.append(server)
with open(path, "w", newline="") as f:
    f.write("\r\n".join(out) + "\r\n")
PY
echo "== Settings: build-demo/app/tessaly.ini"

# ---- the program ----------------------------------------------------------------
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat <<EOF
== No display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window
   cannot open here. Run this script from a terminal on a desktop session
   to see it. Meanwhile, a run without a window: Tessaly mails README.md to
   alice@example.org as if the file had been dropped on its launcher.
EOF
  # A copy of the program with settings that ask nothing (a window-less
  # run cannot answer a prompt or a result box), beside its data files as
  # an installed program has them (bin/ and share/tessaly/).
  mkdir -p "$state/bin" "$state/share"
  cp "$program" "$state/bin/tessaly"
  cp -r "$root/build-demo/share/tessaly" "$state/share/"
  printf 'This is a message from the Tessaly demo.\r\n' >"$state/text.txt"
  printf '[Setup]\r\nServer=127.0.0.1:%s\r\nEMail Address=you@example.com\r\nName=Tessaly Demo\r\nMsgText=1\r\nMsgTextFile=%s\r\nMsgSubject=1\r\nShowSuccess=0\r\n' \
    "$port" "$state/text.txt" >"$state/bin/tessaly.ini"
  QT_QPA_PLATFORM=offscreen "$state/bin/tessaly" "$root/README.md" alice@example.org
  echo "== The message is in mailbox/:"
  ls -1t "$mailbox" | head -1 | sed 's/^/   /'
  exit 0
fi

cat <<EOF
== Starting Tessaly. Select one or more addresses, then drop files on the
   window (or right-click the list: "Mail To Selected (no files)...").
   Each message arrives as a file in mailbox/. Close the window to stop.
EOF
"$program" || true
echo "== Tessaly closed; messages in mailbox/: $(ls -1 "$mailbox" | wc -l)"
