"""Times encoders side by side and prints the table of bench/encode/run.sh.

Usage: measure.py TOOL RANDOM-FILE TEXT-FILE RUNS

Programs run in rounds (each round runs every program once, so that a busy
machine slows all of them alike); the fastest round of each counts. Wall
time by the clock, CPU time (user + system) and peak RSS from the kernel's
accounting of the child, read through /usr/bin/time.
"""
import os
import subprocess
import sys
import tempfile
import time

tool, random_file, text_file, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
GiB = 1 << 30
MiB = 1 << 20

PROGRAMS = [
    # name, input, command
    ("tessaly-encode b64", random_file, [tool, "b64", random_file]),
    ("tessaly-encode --whole b64", random_file, [tool, "--whole", "b64", random_file]),
    ("coreutils base64", random_file, ["base64", random_file]),
    ("openssl base64", random_file, ["openssl", "base64", "-in", random_file]),
    ("tessaly-encode uu", random_file, [tool, "uu", random_file]),
    ("tessaly-encode --whole uu", random_file, [tool, "--whole", "uu", random_file]),
    ("sharutils uuencode", random_file, ["uuencode", random_file, "x"]),
    ("tessaly-encode qp", text_file, [tool, "qp", text_file]),
    ("perl MIME::QuotedPrint encode_qp", text_file,
     ["perl", "-MMIME::QuotedPrint", "-ne", "print encode_qp($_)", text_file]),
    ("qprint -e", text_file, ["qprint", "-e", text_file]),
    ("python3 quopri", text_file, ["/usr/bin/python3", "-m", "quopri", text_file]),
]

TARGETS = [
    # label, ours, peer, minimum ratio
    ("base64 vs coreutils base64", "tessaly-encode b64", "coreutils base64", 1.5),
    ("base64 --whole vs coreutils base64", "tessaly-encode --whole b64", "coreutils base64", 1.5),
    ("UU vs sharutils uuencode", "tessaly-encode uu", "sharutils uuencode", 2.0),
    ("UU --whole vs sharutils uuencode", "tessaly-encode --whole uu", "sharutils uuencode", 2.0),
    ("QP vs perl encode_qp", "tessaly-encode qp", "perl MIME::QuotedPrint encode_qp", 2.0),
    ("QP vs qprint -e", "tessaly-encode qp", "qprint -e", 4.0),
]


def run_once(command, rss_file):
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss_file] + command, stdout=null)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit("%s failed with status %d" % (command[0], proc.returncode))
    with open(rss_file) as f:
        rss_kib = int(f.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, rss_kib


def main():
    best = {}
    with tempfile.TemporaryDirectory() as work:
        rss_file = os.path.join(work, "rss")
        for name, _, command in PROGRAMS:          # warm the page cache
            run_once(command, rss_file)
        for _ in range(runs):
            for name, _, command in PROGRAMS:
                wall, cpu, rss = run_once(command, rss_file)
                old = best.get(name)
                best[name] = (min(wall, old[0]) if old else wall,
                              min(cpu, old[1]) if old else cpu,
                              max(rss, old[2]) if old else rss)
    print("%-34s %8s %7s %8s %7s %9s" % ("program", "wall s", "GiB/s", "cpu s", "GiB/s", "peak MiB"))
    for name, path, _ in PROGRAMS:
        wall, cpu, rss = best[name]
        size = os.path.getsize(path)
        print("%-34s %8.3f %7.2f %8.3f %7.2f %9.1f" % (name, wall, size / wall / GiB, cpu, size / cpu / GiB, rss / 1024))
    print()
    print("%-36s %14s %14s %8s" % ("target", "ratio (wall)", "ratio (cpu)", "minimum"))
    for label, ours, peer, minimum in TARGETS:
        r_wall = best[peer][0] / best[ours][0]
        r_cpu = best[peer][1] / best[ours][1]
        verdict = "met" if min(r_wall, r_cpu) >= minimum else "MISSED"
        print("%-36s %13.2fx %13.2fx %7.1fx  %s" % (label, r_wall, r_cpu, minimum, verdict))
    size = os.path.getsize(random_file)
    limit = 1.5 * size + 32 * MiB
    for name in ("tessaly-encode b64", "tessaly-encode --whole b64", "tessaly-encode uu", "tessaly-encode --whole uu"):
        rss = best[name][2] * 1024
        print("%-36s %8.1f MiB (limit 1.5 x input + 32 MiB = %.1f MiB)  %s"
              % ("peak RSS " + name, rss / MiB, limit / MiB, "met" if rss <= limit else "MISSED"))


main()
