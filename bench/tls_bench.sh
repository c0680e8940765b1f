#!/usr/bin/env bash
# The FTP client over explicit TLS with protected data (AUTH TLS, PROT P) against vsftpd on loopback,
# which insists that data connections resume the control connection's TLS session, side by side with
# curl (one 1 GiB file, --ssl-reqd -k) and lftp's mirror over TLS (2,000 files of 32 KiB, one at a time).
# Usage: bash bench/tls_bench.sh [rounds]    (from the repository; builds build/bench/tls_bench first)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-5}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tls_bench -j2 >/dev/null
bench="$PWD/build/bench/tls_bench"

work="$(mktemp -d /tmp/klvr-tls-bench-XXXXXX)"
vsftpd_pid=""
cleanup() {
  if [ -n "$vsftpd_pid" ]; then kill -- "-$vsftpd_pid" 2>/dev/null || kill "$vsftpd_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# ---- the served tree and the server's certificate ----
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
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=localhost \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

# ---- vsftpd with FTPS on a free loopback port ----
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
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
require_ssl_reuse=YES
ssl_request_cert=NO
ssl_ciphers=HIGH
rsa_cert_file=$work/cert.pem
rsa_private_key_file=$work/key.pem
CONF
setsid /usr/sbin/vsftpd "$work/vsftpd.conf" &
vsftpd_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done

now() { date +%s.%N; }
best() { sort -g | head -1; }
url="ftp://127.0.0.1:$port"

# ---- one 1 GiB file ----
ours=(); theirs=()
run_get() {
  rm -f "$work/out/big.bin"; sync
  line="$("$bench" get 127.0.0.1 "$port" anonymous x big.bin "$work/out/big.bin")"
  ours+=("$(echo "$line" | sed 's/.*"seconds": \([0-9.]*\).*/\1/')")
}
run_curl() {
  rm -f "$work/out/curl.bin"; sync
  t0="$(now)"
  curl -s --ssl-reqd -k -u anonymous:x "$url/big.bin" -o "$work/out/curl.bin"
  t1="$(now)"
  theirs+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')")
}
for round in $(seq "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then run_get; run_curl; else run_curl; run_get; fi
done
cmp -s "$work/root/big.bin" "$work/out/big.bin" || { echo "Get's copy differs" >&2; exit 1; }
cmp -s "$work/root/big.bin" "$work/out/curl.bin" || { echo "curl's copy differs" >&2; exit 1; }
rm -f "$work/out/big.bin" "$work/out/curl.bin"
big_ours="$(printf '%s\n' "${ours[@]}" | best)"
big_curl="$(printf '%s\n' "${theirs[@]}" | best)"

# ---- 2,000 files of 32 KiB, each a data connection with its own TLS handshake ----
ours=(); theirs=()
run_mget() {
  rm -rf "$work/out/mget"; mkdir -p "$work/out/mget"; sync
  line="$("$bench" mget 127.0.0.1 "$port" anonymous x "/small/*" "$work/out/mget")"
  ours+=("$(echo "$line" | sed 's/.*"seconds": \([0-9.]*\).*/\1/')")
}
run_mirror() {
  rm -rf "$work/out/mirror"; sync
  t0="$(now)"
  lftp -c "set ftp:passive-mode on; set ftp:ssl-force yes; set ftp:ssl-protect-data yes;
           set ssl:verify-certificate no; set mirror:parallel-transfer-count 1; set net:max-retries 1;
           open -u anonymous,x $url; mirror /small $work/out/mirror" >/dev/null
  t1="$(now)"
  theirs+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')")
}
for round in $(seq "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then run_mget; run_mirror; else run_mirror; run_mget; fi
done
diff -r "$work/root/small" "$work/out/mget" >/dev/null || { echo "MGet's files differ" >&2; exit 1; }
diff -r "$work/root/small" "$work/out/mirror" >/dev/null || { echo "lftp's files differ" >&2; exit 1; }
small_ours="$(printf '%s\n' "${ours[@]}" | best)"
small_lftp="$(printf '%s\n' "${theirs[@]}" | best)"

awk -v bo="$big_ours" -v bc="$big_curl" -v so="$small_ours" -v sl="$small_lftp" -v n="$rounds" 'BEGIN {
  printf "best of %d rounds, vsftpd with explicit TLS and protected data on loopback\n", n
  printf "1 GiB file:      klvr %.2f s (%.0f MiB/s)   curl %.2f s (%.0f MiB/s)   klvr/curl throughput %.0f%%\n",
         bo, 1024 / bo, bc, 1024 / bc, 100 * bc / bo
  printf "2000 x 32 KiB:   klvr %.2f s (%.0f files/s)   lftp mirror %.2f s (%.0f files/s)   klvr/lftp %.0f%%\n",
         so, 2000 / so, sl, 2000 / sl, 100 * sl / so
}'
