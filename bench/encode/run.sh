#!/usr/bin/env bash
# Throughput and peak memory of tessaly-encode beside other encoders, on the
# same inputs in the same run: 100 MiB of random bytes for base64 and UU,
# 20 MiB of ~70-character text lines for quoted-printable.
#
#   bench/encode/run.sh            (as root when peers must be installed)
#   RUNS=7 BUILD_DIR=/tmp/b bench/encode/run.sh
#
# tessaly-encode runs twice for UU and base64: as a filter (the encoder fed
# windows of about 1 MiB) and with --whole, one Encode of the whole file into
# one line list (what the memory limit is about); on a virtual machine the
# first touch of that much fresh memory can cost as much as the encoding.
# Ratios are given by wall clock and by CPU time; a target counts as met
# only when both reach it.
#
# Programs run in RUNS rounds with their output thrown away; the fastest
# round of each counts (measure.py).
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$repo/build-bench}
runs=${RUNS:-5}

install_peers() {
  local packages=(coreutils openssl sharutils perl qprint python3 time) missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Another apt-get may hold the lock; wait for it instead of failing.
  apt-get -o DPkg::Lock::Timeout=300 update -q
  apt-get -o DPkg::Lock::Timeout=300 install -y -q --no-install-recommends "${missing[@]}"
}

build_tool() {
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF > /dev/null
  cmake --build "$build" --target tessaly-encode > /dev/null
  tool=$build/tools/encode/tessaly-encode
}

make_inputs() {
  head -c $((100 << 20)) /dev/urandom > "$work/random.bin"
  /usr/bin/python3 - "$work/text.txt" <<'PY'
import random, sys
rng = random.Random(1)
words = ("the of and to in is was that for on with as by at from his her which or be are an this "
         "not but had have it they you one all were can there been if more when will would who so "
         "no Mail message attachment server encoding quoted printable caf\xe9 na\xefve x=y tab\there").split(" ")
lines, size = [], 0
while size < 20 << 20:
    target = rng.randint(60, 80)
    line = ""
    while len(line) < target:
        line += rng.choice(words) + " "
    data = line[:target].rstrip().encode("latin-1") + b"\n"
    lines.append(data)
    size += len(data)
open(sys.argv[1], "wb").write(b"".join(lines))
PY
}

install_peers
build_tool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_inputs
random=$work/random.bin
text=$work/text.txt

echo "tessaly-encode benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, best of $runs rounds"
echo "inputs: $(($(stat -c %s "$random") >> 20)) MiB random (base64, UU), $(($(stat -c %s "$text") >> 20)) MiB text lines (QP)"
/usr/bin/python3 "$(dirname "$0")/measure.py" "$tool" "$random" "$text" "$runs"
