#!/usr/bin/env bash
# The plug-in's main job in one command: starts a local FTP-over-TLS server with a few sample files, runs
# a real Vaultfetch command against it through the vaultfetch host program, and shows the log, the
# downloaded files and the output variables. Everything lives in a temporary folder and goes when the
# script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vaultfetch klvrVaultfetch
./build/vaultfetch info

work=$(mktemp -d)
server_pid=""
cleanup() {
  local rc=$?
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT

# Sample files on the server: a folder of reports and a note beside it.
mkdir -p "$work/server/reports/2026" "$work/out"
printf 'day,amount\n2026-03-01,120\n' > "$work/server/reports/2026/march-01.csv"
printf 'day,amount\n2026-03-02,95\n' > "$work/server/reports/2026/march-02.csv"
printf 'Quarterly summary\n' > "$work/server/reports/summary.txt"
printf 'Fetched by Vaultfetch\n' > "$work/server/readme.txt"

# A loopback port that fits the 16-bit port setting.
port=$(/usr/bin/python3 - <<'PY'
import random, socket
for _ in range(200):
    p = random.randint(20000, 32767)
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", p)); print(p); break
    except OSError:
        pass
    finally:
        s.close()
PY
)

# A certificate for the server, made now: self-signed, in the name of 127.0.0.1, valid for a day.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" \
  -keyout "$work/server-key.pem" -out "$work/server-cert.pem" 2>/dev/null

# pyftpdlib from Debian's python (not any other python on PATH), one user "demo", TLS required on the
# control connection and on every data connection.
/usr/bin/python3 - "$work/server" "$port" "$work/server-cert.pem" "$work/server-key.pem" \
  > "$work/server.log" 2>&1 <<'PY' &
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer
root, port, cert, key = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
authorizer = DummyAuthorizer()
authorizer.add_user("demo", "demo", root, perm="elr")
TLS_FTPHandler.authorizer = authorizer
TLS_FTPHandler.certfile = cert
TLS_FTPHandler.keyfile = key
TLS_FTPHandler.tls_control_required = True
TLS_FTPHandler.tls_data_required = True
FTPServer(("127.0.0.1", port), TLS_FTPHandler).serve_forever()
PY
server_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
echo "Demo FTP-over-TLS server on 127.0.0.1:$port serving:"
(cd "$work/server" && find . -type f | sort)

# Folder mode: every entry of the remote root, folders whole. Explicit TLS with protected data
# ("Explicit Normal"); the demo certificate is its own root, so that one check is set to be ignored.
cat > "$work/command.json" <<JSON
{"RemoteHost": "127.0.0.1", "UserName": "demo", "Password": "demo_\$PW\$_", "RemotePort": "$port",
 "TransferMode": "1", "TimeoutSeconds": "10", "PassiveMode": "1", "RemoteDir": "/", "LocalDir": "$work/out",
 "DeleteAfterDownload": "0", "ProcessAll": "1", "OverwriteExisting": "1", "SaveFileName": "0",
 "ProxyType": "0", "ProxyPort": "0", "VariableScope": "USER", "CopySpecific": "0", "FileFilter": ".", "IncludeSubdirs": "1",
 "RetryCount": "2", "SecurityMode": "2", "SecurityProtocol": "0", "IgnoreDateError": "0",
 "IgnoreHostError": "0", "IgnoreRootError": "1", "AlwaysAuthenticate": "0", "TraceLog": "0",
 "ManualPortRange": "0::"}
JSON
echo
echo "vaultfetch run (log on standard error, output variables on standard output):"
status=0
./build/vaultfetch run "$work/command.json" || status=$?
echo
echo "Downloaded into $work/out:"
(cd "$work/out" && find . -type f | sort | while read -r f; do printf '  %-32s %s bytes\n' "$f" "$(stat -c %s "$f")"; done)
exit "$status"
