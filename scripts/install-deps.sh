#!/usr/bin/env bash
# Installs every Debian package that building and testing klvrVaultfetch needs.
# Idempotent: a second run installs nothing new.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libssl-dev openssl libpcre2-dev libzip-dev nlohmann-json3-dev
  qt6-base-dev libx11-dev libgl-dev xvfb xauth
  libgtest-dev libgmock-dev
  file dpkg-dev time  # cpack's Debian packages; /usr/bin/time for the memory benchmark
  python3 python3-pyftpdlib python3-openssl vsftpd dante-server tinyproxy
  curl lftp wget socat strace procps
  # what the unpacked ProFTPD and Pure-FTPd below need to run
  libmemcached11 libmemcachedutil2 libhiredis0.14 libpcre2-posix3 libsodium23 libwrap0 libidn2-0 libacl1
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
updated=no
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
else
  $SUDO apt-get update -qq
  updated=yes
  # Servers are started by the tests themselves; keep the packages' own services from starting.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Debian's FTP server packages conflict with one another (each provides ftp-server), so only vsftpd is
# installed; ProFTPD (with mod_tls) and Pure-FTPd are unpacked, never configured or started as
# services, into a folder of their own from which the tests start them.
servers=/opt/klvr-test-servers
unpacked=(proftpd-core proftpd-mod-crypto pure-ftpd pure-ftpd-common)
if [ -f "$servers/unpacked" ] && [ "$(cat "$servers/unpacked")" = "${unpacked[*]}" ]; then
  echo "install-deps: test servers present in $servers"
  exit 0
fi
download=$(mktemp -d)
chmod 755 "$download"  # apt's download user writes here
if ! (cd "$download" && apt-get download -qq -o APT::Sandbox::User=root "${unpacked[@]}"); then
  [ "$updated" = yes ] || $SUDO apt-get update -qq
  (cd "$download" && apt-get download -qq -o APT::Sandbox::User=root "${unpacked[@]}")
fi
$SUDO rm -rf "$servers.new"
$SUDO mkdir -p "$servers.new"
for deb in "$download"/*.deb; do $SUDO dpkg-deb -x "$deb" "$servers.new"; done
echo "${unpacked[*]}" | $SUDO tee "$servers.new/unpacked" >/dev/null
$SUDO rm -rf "$servers"
$SUDO mv "$servers.new" "$servers"
rm -rf "$download"
echo "install-deps: test servers unpacked into $servers"
