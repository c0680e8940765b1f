#!/usr/bin/env bash
# The FTP client against vsftpd on loopback, side by side with curl (one 1 GiB file) and lftp's
# mirror (2,000 files of 32 KiB, one at a time), plus the client's peak resident memory.
# Usage: bash bench/ftp_bench.sh [rounds]    (from the repository; builds build/bench/ftp_bench first)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-5}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target ftp_bench -j2 >/dev/null
bench="$PWD/build/bench/ftp_bench"

work="$(mktemp -d /tmp/klvr-bench-XXXXXX)"
vsftpd_pid=""
cleanup() {
  if [ -n "$vsftpd_pid" ]; then kill -- "-$vsftpd_pid" 2>/dev/null || kill "$vsftpd_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# ---- the served tree ----
mkdir -p "$work/root/small" "$work/empty" "$work/out"
head -c 1073741824 /dev/urandom > "$work/root/big.bin"
/usr/bin/python3 - "$work/root/small" <<'PY'
import os, sys
block = os.urandom(32768)
for i in range(2000):
    with open(os.path.join(sys.argv[1], "f%04d.bin" % i), "wb") as f:
        f.write(block)
PY
chmod -R a+rX "$work/root"

# ---- vsftpd on a free loopback port ----
port="$(/usr/bin/python3 -c 'import random, socket
while True:
    p = random.randint(20000, 32767); s = socket.socket()
    try: s.bind(("127.0.0.1", p)); break
    except OSError: pass
    finally: s.close()
print(p)')"
cat > "$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
local_enable=NO
write_enable=NO
anon_root=$work/root
no_anon_password=YES
secure_chroot_dir=$work/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
CONF
setsid /usr/sbin/vsftpd "$work/vsftpd.conf" &
vsftpd_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done

now() { date +%s.%N; }
best() { sort -g | head -1; }
url="ftp://127.0.0.1:$port"

# ---- one 1 GiB file ----
ours=(); theirs=(); rss=()
for _ in $(seq "$rounds"); do
  rm -f "$work/out/big.bin" "$work/out/curl.bin"
  sync  # every run starts without the previous run's dirty pages still being written back
  line="$("$bench" get 127.0.0.1 "$port" anonymous x /big.bin "$work/out/big.bin")"
  ours+=("$(echo "$line" | sed 's/.*"seconds": \([0-9.]*\).*/\1/')")
  rss+=("$(echo "$line" | sed 's/.*"peakRssKiB": \([0-9]*\).*/\1/')")
  sync
  t0="$(now)"; curl -s -o "$work/out/curl.bin" "$url/big.bin"; t1="$(now)"
  theirs+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')")
done
cmp -s "$work/root/big.bin" "$work/out/big.bin" || { echo "the fetched 1 GiB file differs" >&2; exit 1; }
big_ours="$(printf '%s\n' "${ours[@]}" | best)"
big_curl="$(printf '%s\n' "${theirs[@]}" | best)"
peak_rss="$(printf '%s\n' "${rss[@]}" | sort -g | tail -1)"

# ---- 2,000 files of 32 KiB ----
ours=(); theirs=(); mrss=()
run_mget() {
  rm -rf "$work/out/mget"; mkdir -p "$work/out/mget"
  sync
  line="$("$bench" mget 127.0.0.1 "$port" anonymous x "/small/*" "$work/out/mget")"
  ours+=("$(echo "$line" | sed 's/.*"seconds": \([0-9.]*\).*/\1/')")
  mrss+=("$(echo "$line" | sed 's/.*"peakRssKiB": \([0-9]*\).*/\1/')")
}
run_mirror() {
  rm -rf "$work/out/mirror"
  sync
  t0="$(now)"
  lftp -c "set ftp:passive-mode on; set mirror:parallel-transfer-count 1; set net:max-retries 1;
           open -u anonymous,x $url; mirror /small $work/out/mirror" >/dev/null
  t1="$(now)"
  theirs+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')")
}
# the order alternates, so that neither side always runs right after the other's disk writes
for round in $(seq "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then run_mget; run_mirror; else run_mirror; run_mget; fi
done
[ "$(ls "$work/out/mget" | wc -l)" -eq 2000 ] || { echo "MGet fetched the wrong number of files" >&2; exit 1; }
diff -r "$work/root/small" "$work/out/mget" >/dev/null || { echo "MGet's files differ" >&2; exit 1; }
small_ours="$(printf '%s\n' "${ours[@]}" | best)"
small_lftp="$(printf '%s\n' "${theirs[@]}" | best)"
mget_rss="$(printf '%s\n' "${mrss[@]}" | sort -g | tail -1)"

awk -v bo="$big_ours" -v bc="$big_curl" -v so="$small_ours" -v sl="$small_lftp" -v r="$peak_rss" -v mr="$mget_rss" \
    -v n="$rounds" 'BEGIN {
  printf "best of %d rounds, vsftpd on loopback\n", n
  printf "1 GiB file:        klvr %.2f s (%.0f MiB/s)   curl %.2f s (%.0f MiB/s)   klvr/curl throughput %.0f%%\n",
         bo, 1024 / bo, bc, 1024 / bc, 100 * bc / bo
  printf "2000 x 32 KiB:     klvr %.2f s (%.0f files/s)   lftp mirror %.2f s (%.0f files/s)   klvr/lftp %.0f%%\n",
         so, 2000 / so, sl, 2000 / sl, 100 * sl / so
  printf "peak RSS of klvr:  %.1f MiB (1 GiB Get), %.1f MiB (MGet of 2000 files)\n", r / 1024, mr / 1024
}'
