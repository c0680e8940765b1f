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
source bench/lib.sh
cleanup() {
  stop_servers
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root" "$work/out"
head -c 1073741824 /dev/urandom > "$work/root/big.bin"
chmod -R a+rX "$work/root"
start_vsftpd plain "$work/root" plain
port=$vsftpd_port
command_json "$port" 8 / "$work/out" 0 big.bin > "$work/command.json"

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
