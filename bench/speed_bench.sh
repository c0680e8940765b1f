#!/usr/bin/env bash
# The distance to the machine, against vsftpd on loopback, side by side with curl, lftp and wget in one
# run, each figure the median of ROUNDS rounds that alternate the clients' order:
#   1 GiB plain          vaultfetch, the baseline build, curl, lftp, wget, and socat copying a TCP
#                        stream into a file (the physical reference); wall time and client CPU
#   1 GiB over TLS       vaultfetch, the baseline build, curl, lftp; wall time and client CPU per GiB
#   200 x 32 KiB, TLS    folder mode, against lftp mirror and curl (the 200 files named, one session,
#                        one round only); files/s
#   round trips per file plain and TLS, counted in strace logs (bench/round_trips.py) of fetching 10 and
#                        20 files in one session: the difference over 10 files
# Usage: [ROUNDS=5] [CASES="plain tls small trips"] bash bench/speed_bench.sh [build] [before-build]
#        [between-build]
# The other builds (a vaultfetch and its plug-in from before a change, "before", and from a step
# between, "between") are optional and run beside ours.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
baseline=${2:-}
between=${3:-}
rounds=${ROUNDS:-5}
cases=${CASES:-plain tls small trips}
cli="$(cd "$build" && pwd)/vaultfetch"
[ -x "$cli" ] || { echo "build $cli first" >&2; exit 2; }
[ -z "$baseline" ] || baseline="$(cd "$baseline" && pwd)/vaultfetch"
[ -z "$between" ] || between="$(cd "$between" && pwd)/vaultfetch"

work=$(mktemp -d)
source bench/lib.sh
socat_pid=""
cleanup() {
  stop_servers
  [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

root="$work/root"
mkdir -p "$root/big" "$root/small" "$root/rt10" "$root/rt20"
/usr/bin/python3 - "$root" <<'PY'
import os, sys
root = sys.argv[1]
with open(os.path.join(root, "big", "big.bin"), "wb") as out:
    chunk = os.urandom(1 << 20)
    for _ in range(1024):
        out.write(chunk)
block = os.urandom(32768)
for folder, count in (("small", 200), ("rt10", 10), ("rt20", 20)):
    for f in range(count):
        with open(os.path.join(root, folder, "f%03d.bin" % f), "wb") as out:
            out.write(block)
PY
chmod -R a+rX "$root"
start_vsftpd plain "$root" plain
plain_port=$vsftpd_port
start_vsftpd tls "$root" tls
tls_port=$vsftpd_port
out="$work/out"

lftp_tls="set ftp:ssl-force yes; set ftp:ssl-protect-data yes; set ssl:verify-certificate no;"

# run_case NAME CHECK CLIENT-LABEL COMMAND... ; appends "WALL CPU" to results[NAME/LABEL]
declare -A results
# Every run writes into a folder of its own. Small files stay until the end: ext4 without a journal (as
# here) passes over inodes freed in the last seconds one by one on every create, so a run that follows
# the deletion of 200 files pays for it, whoever it is. A large file goes at once.
run_serial=0
new_out() {
  run_serial=$((run_serial + 1))
  out="$work/out/$run_serial"
  mkdir -p "$out"
}

run_one() {
  local key="$1" expect="$2"
  shift 2
  local figures
  figures=$(measured "$@") || { echo "$key failed" >&2; exit 1; }
  local got
  got=$(count_files "$out")
  [ "$got" -eq "$expect" ] || { echo "$key fetched $got files, not $expect" >&2; exit 1; }
  results[$key]+="$figures;"
}

median() {  # "WALL CPU;..." field(1|2)
  printf '%s' "$1" | tr ';' '\n' | awk -v f="$2" 'NF {print $f}' | sort -g |
    awk '{v[NR]=$1} END {if (NR % 2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'
}
spread() {  # min..max of wall
  printf '%s' "$1" | tr ';' '\n' | awk 'NF {print $1}' | sort -g | awk 'NR==1{a=$1} {b=$1} END {print a ".." b}'
}

clients_for() {
  case "$1" in
    plain) echo "vaultfetch ${baseline:+before} ${between:+between} curl lftp wget socat" ;;
    tls) echo "vaultfetch ${baseline:+before} ${between:+between} curl lftp" ;;
    small) echo "vaultfetch ${baseline:+before} ${between:+between} curl lftp" ;;
  esac
}

exe_of() {
  case "$1" in
    before) echo "$baseline" ;;
    between) echo "$between" ;;
    *) echo "$cli" ;;
  esac
}

run_client() {  # case client
  local c="$1" who="$2" port=$plain_port mode=8 url
  new_out
  [ "$c" = plain ] || { port=$tls_port; mode=2; }
  case "$c/$who" in
    plain/vaultfetch|tls/vaultfetch|plain/before|tls/before|plain/between|tls/between)
      command_json "$port" "$mode" /big "$out" 0 big.bin > "$work/cmd.json"
      local exe; exe=$(exe_of "$who")
      run_one "$c/$who" 1 "$exe" run "$work/cmd.json" --no-daemon ;;
    small/vaultfetch|small/before|small/between)
      command_json "$port" "$mode" /small "$out" 1 "" > "$work/cmd.json"
      local exe; exe=$(exe_of "$who")
      run_one "$c/$who" 200 "$exe" run "$work/cmd.json" --no-daemon ;;
    plain/curl) run_one "$c/$who" 1 curl -s --ftp-pasv -o "$out/big.bin" "ftp://anonymous:b@127.0.0.1:$port/big/big.bin" ;;
    tls/curl) run_one "$c/$who" 1 curl -s -k --ssl-reqd --ftp-pasv -o "$out/big.bin" "ftp://anonymous:b@127.0.0.1:$port/big/big.bin" ;;
    plain/lftp) run_one "$c/$who" 1 lftp -e "get /big/big.bin -o $out/big.bin; quit" -u anonymous,b "ftp://127.0.0.1:$port" ;;
    tls/lftp) run_one "$c/$who" 1 lftp -e "$lftp_tls get /big/big.bin -o $out/big.bin; quit" -u anonymous,b "ftp://127.0.0.1:$port" ;;
    small/lftp) run_one "$c/$who" 200 lftp -e "$lftp_tls mirror --parallel=1 /small $out/small; quit" -u anonymous,b "ftp://127.0.0.1:$port" ;;
    small/curl)
      # one session for all 200 files, named on the command line: curl lists no folders
      local args=() i
      for i in $(seq 0 199); do args+=(-o "$out/f$i" "ftp://anonymous:b@127.0.0.1:$port/small/$(printf f%03d.bin "$i")"); done
      run_one "$c/$who" 200 curl -s -k --ssl-reqd --ftp-pasv "${args[@]}" ;;
    plain/wget) run_one "$c/$who" 1 wget -q -O "$out/big.bin" "ftp://anonymous:b@127.0.0.1:$port/big/big.bin" ;;
    plain/socat)
      local sp
      sp=$(free_port)
      socat -u -b 262144 "OPEN:$root/big/big.bin" "TCP-LISTEN:$sp,bind=127.0.0.1,reuseaddr" &
      socat_pid=$!
      wait_for_port_quietly() { for _ in $(seq 100); do ss -ltn | grep -q ":$sp " && return 0; sleep 0.02; done; }
      wait_for_port_quietly
      run_one "$c/$who" 1 socat -u -b 262144 "TCP:127.0.0.1:$sp" "CREATE:$out/big.bin"
      wait "$socat_pid" 2>/dev/null || true
      socat_pid="" ;;
  esac
  if [ "$c" != small ]; then
    cmp -s "$root/big/big.bin" "$out/big.bin" || { echo "$c/$who: the copy differs" >&2; exit 1; }
    rm -rf "$out"
  fi
}

echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); vsftpd plain :$plain_port, TLS :$tls_port; median of $rounds rounds"
for c in plain tls small; do
  [[ " $cases " == *" $c "* ]] || continue
  read -r -a who <<< "$(clients_for "$c")"
  for round in $(seq "$rounds"); do
    # each round rotates which client goes first
    n=${#who[@]}
    for i in $(seq 0 $((n - 1))); do
      w=${who[$(( (i + round) % n ))]}
      # curl takes over a minute for the small files over TLS: one round of it
      [ "$c/$w" = small/curl ] && [ "$round" -gt 1 ] && continue
      run_client "$c" "$w"
    done
  done
  for w in "${who[@]}"; do
    r=${results[$c/$w]}
    wall=$(median "$r" 1)
    cpu=$(median "$r" 2)
    if [ "$c" = small ]; then
      awk -v w="$w" -v s="$wall" -v c="$cpu" -v sp="$(spread "$r")" 'BEGIN {
        printf "%-6s %-11s %7.3f s (%s) %7.0f files/s  CPU %.3f s\n", "small", w, s, sp, 200 / s, c }'
    else
      awk -v k="$c" -v w="$w" -v s="$wall" -v c="$cpu" -v sp="$(spread "$r")" 'BEGIN {
        printf "%-6s %-11s %7.3f s (%s) %7.0f MB/s  CPU %.3f s/GiB\n", k, w, s, sp, 1073.741824 / s, c }'
    fi
  done
done

[[ " $cases " == *" trips "* ]] || exit 0
# Round trips: strace of one session fetching 10 and 20 files; the difference over 10 is per file.
trace() {  # log command...
  local log="$1"
  shift
  strace -f -qq -yy -o "$log" \
    -e trace=connect,getsockopt,read,readv,recvfrom,recvmsg,write,writev,sendto,sendmsg,splice,close "$@" \
    > /dev/null 2>&1
  /usr/bin/python3 bench/round_trips.py "$log"
}
trips_of() {  # kind client folder
  local kind="$1" who="$2" folder="$3" n=${3#rt} port=$plain_port mode=8 tlsopt="" lftpopt=""
  [ "$kind" = tls ] && { port=$tls_port; mode=2; tlsopt="-k --ssl-reqd"; lftpopt=$lftp_tls; }
  new_out
  case "$who" in
    vaultfetch|before|between)
      local exe; exe=$(exe_of "$who")
      command_json "$port" "$mode" "/$folder" "$out" 1 "" > "$work/cmd.json"
      trace "$work/trace.log" "$exe" run "$work/cmd.json" --no-daemon ;;
    curl)
      local args=() i
      for i in $(seq 0 $((n - 1))); do args+=(-o "$out/f$i" "ftp://anonymous:b@127.0.0.1:$port/$folder/$(printf f%03d.bin "$i")"); done
      # shellcheck disable=SC2086
      trace "$work/trace.log" curl -s --ftp-pasv $tlsopt "${args[@]}" ;;
    lftp)
      trace "$work/trace.log" lftp -e "$lftpopt set cmd:parallel 1; lcd $out; mget /$folder/*; quit" -u anonymous,b "ftp://127.0.0.1:$port" ;;
  esac
}
for kind in plain tls; do
  for w in vaultfetch ${baseline:+before} ${between:+between} curl lftp; do
    a=$(trips_of "$kind" "$w" rt10)
    b=$(trips_of "$kind" "$w" rt20)
    awk -v k="$kind" -v w="$w" -v a="$a" -v b="$b" 'BEGIN {
      printf "trips  %-5s %-11s %5.1f per file (%d for 10 files, %d for 20)\n", k, w, (b - a) / 10, a, b }'
  done
done
