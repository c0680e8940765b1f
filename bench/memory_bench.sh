#!/usr/bin/env bash
# Peak resident memory of `vaultfetch run` fetching one 1 GiB file from vsftpd on loopback, side by side
# with curl and wget in the same rounds (GNU time's maximum resident set size of each whole process).
# Usage: bash bench/memory_bench.sh [rounds]    (from the repository; builds build-release first)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-3}"

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DKLVR_WITH_QT=OFF >/dev/null
cmake --build build-release --target vaultfetch klvrVaultfetch -j2 >/dev/null
vaultfetch="$PWD/build-release/vaultfetch"

work="$(mktemp -d /tmp/klvr-membench-XXXXXX)"
vsftpd_pid=""
cleanup() {
  if [ -n "$vsftpd_pid" ]; then kill -- "-$vsftpd_pid" 2>/dev/null || kill "$vsftpd_pid" 2>/dev/null || true; fi
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root" "$work/empty" "$work/out"
head -c 1073741824 /dev/urandom > "$work/root/big.bin"
chmod -R a+rX "$work/root"

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

cat > "$work/command.json" <<JSON
{"RemoteHost": "127.0.0.1", "UserName": "anonymous", "Password": "x", "RemotePort": "$port",
 "TransferMode": "1", "TimeoutSeconds": "60", "PassiveMode": "1", "RemoteDir": "/", "LocalDir": "$work/out",
 "DeleteAfterDownload": "0", "ProcessAll": "0", "CopySpecific": "1", "SpecificFileName": "big.bin", "FileFilter": ".",
 "OverwriteExisting": "1", "ProxyType": "0", "ProxyPort": "0", "SaveFileName": "0", "VariableScope": "USER",
 "IncludeSubdirs": "0", "RetryCount": "1", "SecurityMode": "8", "SecurityProtocol": "0",
 "IgnoreDateError": "0", "IgnoreHostError": "0", "IgnoreRootError": "0", "AlwaysAuthenticate": "0",
 "TraceLog": "0", "ManualPortRange": "0::"}
JSON

peak() {  # prints the peak RSS in KiB of the command given
  /usr/bin/time -f '%M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" \
    || { cat "$work/stderr.txt" >&2; echo "failed: $*" >&2; exit 1; }
  cmp -s "$work/root/big.bin" "$work/out/big.bin" || { cat "$work/stderr.txt" >&2; ls -la "$work/out" >&2; echo "no exact copy: $*" >&2; exit 1; }
  rm -f "$work/out/big.bin"
  tail -1 "$work/time.txt"
}

declare -A runs
for _ in $(seq "$rounds"); do
  runs[vaultfetch]+="$(peak "$vaultfetch" run "$work/command.json" --no-daemon) "
  runs[curl]+="$(peak curl -s -o "$work/out/big.bin" "ftp://127.0.0.1:$port/big.bin") "
  runs[wget]+="$(peak wget -q -O "$work/out/big.bin" "ftp://127.0.0.1:$port/big.bin") "
done

printf '%-12s %s\n' client "peak RSS, median of $rounds (MiB)"
for client in vaultfetch curl wget; do
  # shellcheck disable=SC2086
  median=$(printf '%s\n' ${runs[$client]} | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  awk -v c="$client" -v k="$median" 'BEGIN {printf "%-12s %.1f\n", c, k / 1024}'
done
