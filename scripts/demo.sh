#!/usr/bin/env bash
# The plug-in's main job, shown on this machine: builds, prints the plug-in's identity and runs a
# command through the vaultfetch host program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vaultfetch klvrVaultfetch
./build/vaultfetch info
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/command.json" <<JSON
{"RemoteHost": "127.0.0.1", "UserName": "demo", "Password": "demo_\$PW\$_", "RemotePort": "2121",
 "TransferMode": "1", "TimeoutSeconds": "5", "PassiveMode": "1", "LocalDir": "$work/out",
 "ProcessAll": "1", "OverwriteExisting": "1", "FileFilter": ".", "IncludeSubdirs": "0",
 "RetryCount": "3", "SecurityMode": "8", "SecurityProtocol": "0", "ManualPortRange": "0::"}
JSON
./build/vaultfetch run "$work/command.json" || echo "(exit status $?)"
