#!/usr/bin/env bash
# Installs every Debian package that building and testing klvrVaultfetch needs.
# Idempotent: a second run installs nothing new.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libssl-dev openssl libpcre2-dev libzip-dev nlohmann-json3-dev
  qt6-base-dev libx11-dev libgl-dev xvfb xauth
  libgtest-dev libgmock-dev
  python3 python3-pyftpdlib python3-openssl vsftpd dante-server tinyproxy
  curl lftp procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# Servers are started by the tests themselves; keep the packages' own services from starting.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod +x /usr/sbin/policy-rc.d
  trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
