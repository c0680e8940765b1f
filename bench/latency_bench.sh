#!/usr/bin/env bash
# The clients across a round trip time, as users fetch over the internet: vsftpd on 127.0.0.1 behind
# bench/delay_relay.py on 127.0.0.2, which holds every chunk RTT/2 each way (this kernel has no netem),
# for the control port and vsftpd's passive port range alike. For each RTT:
#   100 x 32 KiB, plain and explicit TLS  vaultfetch folder mode on one session and with --parallel 4,
#                                        lftp mirror, lftp mirror --parallel=4,
#                                        curl with the 100 files named (one session)
#   64 MiB over TLS                      vaultfetch, curl, lftp get
# Each figure: wall time, client CPU (user + system of the client process, process start included), and
# the conversation's turns as the relay counts them (a send answered by the server; logon and listing
# included). Every download is checked (SHA-256 of every file). With RATE_MBPS, each direction is also a
# link of that many Mbit/s (data then arrives in paced 64 KiB pieces, as over a real bottleneck);
# without it only the delay is added. An optional second build ("before") runs beside ours.
# CLIENTS picks some of vaultfetch, vaultfetch-p4, before, curl, lftp, lftp-p4.
# Usage: [ROUNDS=1] [RTTS="0 20 60"] [CASES="plain tls big"] [RATE_MBPS=200] [CLIENTS="vaultfetch before"]
#        bash bench/latency_bench.sh [build] [before-build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
baseline=${2:-}
rounds=${ROUNDS:-1}
rate=${RATE_MBPS:-0}
rtts=${RTTS:-0 20 60}
cases=${CASES:-plain tls big}
cli="$(cd "$build" && pwd)/vaultfetch"
[ -x "$cli" ] || { echo "build $cli first" >&2; exit 2; }
[ -z "$baseline" ] || baseline="$(cd "$baseline" && pwd)/vaultfetch"

work=$(mktemp -d)
source bench/lib.sh
relay_pid=""
stop_relay() {
  [ -z "$relay_pid" ] || { kill "$relay_pid" 2>/dev/null; wait "$relay_pid" 2>/dev/null || true; }
  relay_pid=""
}
cleanup() {
  stop_relay
  stop_servers
  rm -rf "$work"
}
trap cleanup EXIT

root="$work/root"
mkdir -p "$root/small" "$root/big"
/usr/bin/python3 - "$root" <<'PY'
import os, sys
root = sys.argv[1]
with open(os.path.join(root, "big", "big.bin"), "wb") as out:
    out.write(os.urandom(64 << 20))
for f in range(100):
    with open(os.path.join(root, "small", "f%03d.bin" % f), "wb") as out:
        out.write(os.urandom(32768))
PY
chmod -R a+rX "$root"
(cd "$root/small" && sha256sum -- * | sort) > "$work/small.sums"
big_sum=$(sha256sum < "$root/big/big.bin")

# Sixteen passive ports per server, free on both addresses; the relay listens on 127.0.0.2 with the same
# port numbers as vsftpd on 127.0.0.1, and vsftpd names 127.0.0.2 in its PASV answers.
pasv_base=$(/usr/bin/python3 -c '
import random, socket
def free(p):
    for host in ("127.0.0.1", "127.0.0.2"):
        s = socket.socket()
        try:
            s.bind((host, p))
        except OSError:
            return False
        finally:
            s.close()
    return True
for _ in range(200):
    b = random.randint(20000, 32767 - 32)
    if all(free(p) for p in range(b, b + 32)):
        print(b); break')
start_range() {  # NAME KIND FIRST
  vsftpd_extra="pasv_address=127.0.0.2
pasv_min_port=$3
pasv_max_port=$(($3 + 15))"
  start_vsftpd "$1" "$root" "$2"
}
start_range plain plain "$pasv_base"
plain_port=$vsftpd_port
start_range tls tls $((pasv_base + 16))
tls_port=$vsftpd_port

start_relay() {  # RTT-MS
  rm -f "$work/relay.ready"
  /usr/bin/python3 bench/delay_relay.py --listen 127.0.0.2 --target 127.0.0.1 --rtt-ms "$1" --rate-mbps "$rate" \
    --port "$plain_port" --port "$tls_port" --port "$pasv_base:$((pasv_base + 31))" \
    --stats "$work/relay.stats" > "$work/relay.ready" 2> "$work/relay.log" &
  relay_pid=$!
  for _ in $(seq 100); do grep -q ready "$work/relay.ready" 2>/dev/null && return 0; sleep 0.05; done
  echo "the relay did not start: $(cat "$work/relay.log")" >&2
  exit 1
}
relay_turns() {  # the turns since the last call
  rm -f "$work/relay.stats"
  kill -USR1 "$relay_pid"
  for _ in $(seq 100); do [ -f "$work/relay.stats" ] && break; sleep 0.02; done
  cut -d' ' -f1 "$work/relay.stats"
}

lftp_tls="set ftp:ssl-force yes; set ftp:ssl-protect-data yes; set ssl:verify-certificate no;"
run_serial=0
declare -A results
check() {  # KEY KIND
  if [ "$2" = big ]; then
    [ "$(sha256sum < "$out/big.bin")" = "$big_sum" ] || { echo "$1: the copy differs" >&2; exit 1; }
  else
    local got
    got=$(find "$out" -type f -exec sha256sum {} + | sed 's|  .*/|  |' | sort)
    [ "$got" = "$(cat "$work/small.sums")" ] || { echo "$1: the files differ from the served ones" >&2; exit 1; }
  fi
}
run_client() {  # RTT CASE CLIENT
  local rtt="$1" c="$2" who="$3" port=$plain_port mode=8 tls=() lftpopt=""
  [ "$c" = plain ] || { port=$tls_port; mode=2; tls=(-k --ssl-reqd); lftpopt=$lftp_tls; }
  run_serial=$((run_serial + 1))
  out="$work/out/$run_serial"
  mkdir -p "$out"
  local url="ftp://anonymous:b@127.0.0.2:$port" cmd=()
  local exe=$cli
  [ "$who" = before ] && exe=$baseline
  case "$c/$who" in
    big/vaultfetch|big/before)
      command_json "$port" "$mode" /big "$out" 0 big.bin | sed 's/"127.0.0.1"/"127.0.0.2"/' > "$work/cmd.json"
      cmd=("$exe" run "$work/cmd.json" --no-daemon) ;;
    */vaultfetch|*/before|*/vaultfetch-p4)
      command_json "$port" "$mode" /small "$out" 1 "" | sed 's/"127.0.0.1"/"127.0.0.2"/' > "$work/cmd.json"
      cmd=("$exe" run "$work/cmd.json" --no-daemon)
      # one session unless the case says otherwise; the program before this option knows only one
      case "$who" in vaultfetch) cmd+=(--parallel 1) ;; vaultfetch-p4) cmd+=(--parallel 4) ;; esac ;;
    big/curl) cmd=(curl -s "${tls[@]}" --ftp-pasv -o "$out/big.bin" "$url/big/big.bin") ;;
    big/lftp) cmd=(lftp -e "$lftpopt get /big/big.bin -o $out/big.bin; quit" -u "anonymous,b" "ftp://127.0.0.2:$port") ;;
    */lftp) cmd=(lftp -e "$lftpopt mirror /small $out/small; quit" -u "anonymous,b" "ftp://127.0.0.2:$port") ;;
    */lftp-p4) cmd=(lftp -e "$lftpopt mirror --parallel=4 /small $out/small; quit" -u "anonymous,b" "ftp://127.0.0.2:$port") ;;
    */curl)
      local i
      cmd=(curl -s "${tls[@]}" --ftp-pasv)
      for i in $(seq 0 99); do cmd+=(-o "$out/$(printf f%03d.bin "$i")" "$url/small/$(printf f%03d.bin "$i")"); done ;;
  esac
  relay_turns > /dev/null
  local figures turns
  figures=$(measured "${cmd[@]}") || { echo "$rtt ms $c/$who failed" >&2; exit 1; }
  turns=$(relay_turns)
  check "$rtt ms $c/$who" "$c"
  rm -rf "$out"
  results[$rtt/$c/$who]+="$figures $turns;"
}

median() {  # "WALL CPU TURNS;..." field
  printf '%s' "$1" | tr ';' '\n' | awk -v f="$2" 'NF {print $f}' | sort -g |
    awk '{v[NR]=$1} END {if (NR % 2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'
}

clients_for() {
  if [ -n "${CLIENTS:-}" ]; then echo "$CLIENTS"; return; fi
  case "$1" in
    big) echo "vaultfetch ${baseline:+before} curl lftp" ;;
    *) echo "vaultfetch vaultfetch-p4 ${baseline:+before} lftp lftp-p4 curl" ;;
  esac
}

echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); vsftpd plain :$plain_port, TLS :$tls_port," \
  "passive $pasv_base-$((pasv_base + 31)); link ${rate/#0/unlimited} Mbit/s; median of $rounds rounds"
for rtt in $rtts; do
  start_relay "$rtt"
  for c in plain tls big; do
    [[ " $cases " == *" $c "* ]] || continue
    read -r -a who <<< "$(clients_for "$c")"
    for round in $(seq "$rounds"); do
      n=${#who[@]}
      for i in $(seq 0 $((n - 1))); do run_client "$rtt" "$c" "${who[$(( (i + round) % n ))]}"; done
    done
    for w in "${who[@]}"; do
      r=${results[$rtt/$c/$w]}
      awk -v rtt="$rtt" -v c="$c" -v w="$w" -v s="$(median "$r" 1)" -v cpu="$(median "$r" 2)" \
        -v t="$(median "$r" 3)" 'BEGIN {
        if (c == "big") printf "%3d ms  %-5s %-10s %7.3f s %6.1f MB/s  CPU %.3f s (%.2f s/GiB)  %d turns\n",
          rtt, c, w, s, 67.108864 / s, cpu, cpu * 16, t
        else printf "%3d ms  %-5s %-10s %7.3f s %6.1f files/s  CPU %.3f s  %d turns (%.1f a file)\n",
          rtt, c, w, s, 100 / s, cpu, t, t / 100 }'
    done
  done
  stop_relay
done
