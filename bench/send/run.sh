#!/usr/bin/env bash
# Sending speed and memory of tessaly-send beside other SMTP senders.
#
#   bench/send/run.sh PATH/TO/tessaly-send [PATH/TO/bench_send_tls PATH/TO/tls_sink]
#
# Installs (apt-get, as root) postfix for its smtp-sink, curl, swaks,
# mailutils and python3, with debconf preseeded so that no mail system is
# configured and no MTA daemon is left running. Starts smtp-sink on
# 127.0.0.1 on a free port and sends two messages with each tool:
#   big:  one 50 MiB binary attachment
#   ten:  ten 1 MiB binary attachments
# It prints wall time (median of RUNS) and peak memory side by side, and
# our ratios against the targets:
#   time <= 0.5 x mailutils "mail -A" and <= 2 x "curl -T" (pre-built message),
#   peak memory <= 1.6 x the attachment size.
# With bench_send_tls, a TLS row follows: 50 MiB over STARTTLS beside the
# clear, to one local TLS sink, at most 1.3 x the clear.
set -euo pipefail

send=${1:?usage: run.sh PATH/TO/tessaly-send}
send=$(readlink -f "$send")
tls_bench=${2:-}
tls_sink=${3:-}
RUNS=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)

# ---- packages ---------------------------------------------------------------
need=()
for p in postfix curl swaks mailutils python3; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  # Keep the package scripts from starting any daemon while installing.
  policy=/usr/sbin/policy-rc.d
  made_policy=0
  if [ ! -e $policy ]; then
    printf '#!/bin/sh\nexit 101\n' > $policy && chmod +x $policy && made_policy=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
  [ $made_policy = 1 ] && rm -f $policy
fi
# No MTA may be left running.
if pgrep -x master >/dev/null 2>&1; then postfix stop >/dev/null 2>&1 || true; fi

# ---- data -------------------------------------------------------------------
work=$(mktemp -d /tmp/tessaly-bench-send.XXXXXX)
sink_pid=
cleanup() {
  [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

head -c $((50 * 1024 * 1024)) /dev/urandom > "$work/big.bin"
ten=()
for i in 0 1 2 3 4 5 6 7 8 9; do
  head -c $((1024 * 1024)) /dev/urandom > "$work/file$i.bin"
  ten+=("$work/file$i.bin")
done
printf 'Benchmark message.\n' > "$work/body.txt"

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# -c counts, backlog 100; run as an unprivileged user when we are root.
sink_user=()
[ "$(id -u)" = 0 ] && sink_user=(-u nobody)
/usr/sbin/smtp-sink "${sink_user[@]}" 127.0.0.1:"$port" 100 &
sink_pid=$!
for _ in $(seq 50); do
  /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1',$port)).close()" 2>/dev/null && break
  sleep 0.1
done
server="127.0.0.1:$port"
from=bench@example.org
to=sink@example.net

# Pre-built messages for curl -T, composed by Python's email package.
/usr/bin/python3 "$here/compose.py" "$work/big.eml" "$from" "$to" "$work/big.bin"
/usr/bin/python3 "$here/compose.py" "$work/ten.eml" "$from" "$to" "${ten[@]}"

# ---- the senders ------------------------------------------------------------
# Each prints nothing on success; the command line gets the files last.
run_tessaly() { "$send" --server "$server" --from "$from" --to "$to" --subject bench --body-file "$work/body.txt" "$@"; }
run_curl_F() {
  local args=()
  for f in "$@"; do args+=(-F "file=@$f;encoder=base64"); done
  curl -s -S "smtp://$server" --mail-from "$from" --mail-rcpt "$to" -H "Subject: bench" -F "=Benchmark message." "${args[@]}"
}
run_curl_T() { curl -s -S "smtp://$server" --mail-from "$from" --mail-rcpt "$to" -T "$1"; }
run_python() { /usr/bin/python3 "$here/smtplib_send.py" "$server" "$from" "$to" "$@"; }
run_swaks() {
  local args=()
  for f in "$@"; do args+=(--attach "@$f"); done
  swaks --silent 2 --server 127.0.0.1 --port "$port" --from "$from" --to "$to" --header "Subject: bench" \
        --body "Benchmark message." "${args[@]}"
}
run_mail() {
  local args=()
  for f in "$@"; do args+=(-A "$f"); done
  mail -E "set sendmail=\"smtp://$server\"" -r "$from" -s bench "${args[@]}" "$to" < "$work/body.txt"
}

export send server from to port work here
export -f run_tessaly run_curl_F run_curl_T run_python run_swaks run_mail

# measure NAME FUNCTION ARGS... -> "wall_seconds peak_kib" (median wall of RUNS, max RSS)
measure() {
  local fn=$1; shift
  local walls=() peak=0
  for _ in $(seq "$RUNS"); do
    local out
    out=$( { /usr/bin/time -f "%e %M" bash -c "$fn \"\$@\"" _ "$@" >/dev/null; } 2>&1 | tail -1)
    walls+=("${out% *}")
    local rss=${out#* }
    [ "$rss" -gt "$peak" ] && peak=$rss
  done
  local median
  median=$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "$(( (RUNS + 1) / 2 ))p")
  echo "$median $peak"
}

div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", (b > 0 ? a / b : 0) }'; }

report() {
  local label=$1 size_kib=$2; shift 2
  local files=("$@")
  local eml="$work/$label.eml"
  declare -A wall rss
  for tool in tessaly curl_F curl_T python swaks mail; do
    local r
    if [ $tool = curl_T ]; then r=$(measure run_curl_T "$eml"); else r=$(measure run_$tool "${files[@]}"); fi
    wall[$tool]=${r% *}
    rss[$tool]=${r#* }
  done
  echo
  echo "== $label: $(( size_kib / 1024 )) MiB of attachments, median of $RUNS runs =="
  printf '%-28s %9s %12s\n' "sender" "wall s" "peak MiB"
  for tool in tessaly curl_F curl_T python swaks mail; do
    local name
    case $tool in
      tessaly) name="tessaly-send" ;; curl_F) name="curl -F (MIME)" ;; curl_T) name="curl -T (pre-built)" ;;
      python) name="python smtplib + email" ;; swaks) name="swaks --attach" ;; mail) name="mailutils mail -A" ;;
    esac
    printf '%-28s %9.2f %12.1f\n' "$name" "${wall[$tool]}" "$(div "${rss[$tool]}" 1024)"
  done
  local t=${wall[tessaly]}
  printf 'tessaly / mail -A : %5.2f   (target <= 0.5)\n' "$(div "$t" "${wall[mail]}")"
  printf 'tessaly / curl -T : %5.2f   (target <= 2)\n' "$(div "$t" "${wall[curl_T]}")"
  printf 'tessaly peak / attachments : %4.2f   (target <= 1.6)\n' "$(div "${rss[tessaly]}" "$size_kib")"
}

report big $((50 * 1024)) "$work/big.bin"
report ten $((10 * 1024)) "${ten[@]}"
if [ -n "$tls_bench" ]; then "$tls_bench" "$tls_sink" "$RUNS"; fi
