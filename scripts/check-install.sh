#!/usr/bin/env bash
# Uses a built tree as a packager and a host's developer would: installs it into a scratch root
# (DESTDIR) without the dialog module, checks what the plug-in exports and links, builds a C host
# through pkg-config and one through find_package, runs a download through RunP and through the installed
# vaultfetch against pyftpdlib on loopback, registers and unregisters, then builds the Debian packages
# and checks their metadata, contents and install scripts (nothing is installed on this machine).
# Usage: bash scripts/check-install.sh BUILD-FOLDER
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: check-install.sh BUILD-FOLDER}
src=$PWD

work=$(mktemp -d /tmp/klvr-install-XXXXXX)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

# ---- install: the runtime and development parts, not the dialogs ----
root="$work/root"
DESTDIR="$root" cmake --install "$build" --component Runtime >/dev/null
DESTDIR="$root" cmake --install "$build" --component Development >/dev/null
prefix="$root$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")"
pc=$(find "$prefix" -name klvrVaultfetch.pc)
[ -n "$pc" ] || fail "no pkg-config file installed"
libdir=$(dirname "$(dirname "$pc")")
lib=$(find "$libdir" -maxdepth 1 -name 'libklvrVaultfetch.so.*.*.*')
[ ! -e "$libdir/klvrVaultfetch" ] || fail "the dialog module was installed with the runtime"
for f in bin/vaultfetch include/klvr/toolbox.h include/klvr/version.h share/man/man1/vaultfetch.1 \
         share/doc/klvrVaultfetch/README.md share/doc/klvrVaultfetch/LICENSE \
         share/doc/klvrVaultfetch/examples/systemd/vaultfetch@.service \
         share/doc/klvrVaultfetch/examples/systemd/vaultfetch@.timer; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
[ -f "$libdir/cmake/klvrVaultfetch/klvrVaultfetchConfig.cmake" ] || fail "no CMake package installed"

# ---- the plug-in: its SONAME, its exports (exactly the header's functions), what it links ----
version=$(sed -n 's/^#define KLVR_VERSION_STRING "\(.*\)"$/\1/p' "$prefix/include/klvr/version.h")
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libklvrVaultfetch.so.${version%%.*}" ] || fail "SONAME is $soname"
diff <(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort -u) \
     <(grep -o 'klvr_[A-Za-z_]*(' "$prefix/include/klvr/toolbox.h" | grep -v '^klvr_toolbox(' | tr -d '(' | sort -u) \
  || fail "the plug-in's exports differ from the header's functions"
# The C and C++ runtime, OpenSSL, PCRE2 and libzip (with what libzip itself needs), nothing else.
allowed=$( (printf '%s\n' linux-vdso.so.1 ld-linux-x86-64.so.2 libc.so.6 libm.so.6 libstdc++.so.6 libgcc_s.so.1 \
              libssl.so.3 libcrypto.so.3 libpcre2-8.so.0 libzip.so.4
            ldd "$(ldconfig -p | awk '/libzip\.so\.4 /{print $NF; exit}')" | awk '{print $1}') | sort -u)
extra=$(ldd "$lib" | awk '{print $1}' | sort -u | comm -23 - <(echo "$allowed"))
[ -z "$extra" ] || fail "the plug-in needs more than its runtime and libraries: $extra"

# ---- C hosts against the installed plug-in ----
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion klvrVaultfetch)" = "$version" ] || fail "pkg-config gives another version"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o "$work/host-pkgconfig" "$src/tests/install/host.c" \
  $(pkg-config --cflags --libs klvrVaultfetch)
cmake -S "$src/tests/install" -B "$work/host-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/host-cmake" >/dev/null

# ---- downloads without the dialog module, against pyftpdlib ----
mkdir -p "$work/served" "$work/out-pkgconfig" "$work/out-cmake" "$work/out-cli"
head -c 300000 /dev/urandom > "$work/served/sample.bin"
port=$(/usr/bin/python3 -c 'import random, socket
for _ in range(200):
    p = random.randint(20000, 32767); s = socket.socket()
    try: s.bind(("127.0.0.1", p)); print(p); break
    except OSError: pass
    finally: s.close()')
/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$port" -d "$work/served" >"$work/pyftpdlib.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

export LD_LIBRARY_PATH="$libdir"
"$work/host-pkgconfig" "$port" "$work/out-pkgconfig" >/dev/null || fail "the pkg-config host's run failed"
"$work/host-cmake/host" "$port" "$work/out-cmake" >/dev/null || fail "the find_package host's run failed"
unset LD_LIBRARY_PATH
cat > "$work/command.json" <<JSON
{"RemoteHost": "127.0.0.1", "UserName": "anonymous", "Password": "x_\$PW\$_", "RemotePort": "$port",
 "TransferMode": "1", "TimeoutSeconds": "30", "PassiveMode": "1", "RemoteDir": "/", "LocalDir": "$work/out-cli",
 "DeleteAfterDownload": "0", "ProcessAll": "1", "OverwriteExisting": "1", "ProxyType": "0", "ProxyPort": "0",
 "SaveFileName": "0", "VariableScope": "USER", "CopySpecific": "0", "FileFilter": ".", "IncludeSubdirs": "0",
 "RetryCount": "1", "SecurityMode": "8", "SecurityProtocol": "0", "IgnoreDateError": "0", "IgnoreHostError": "0",
 "IgnoreRootError": "0", "AlwaysAuthenticate": "0", "TraceLog": "0", "ManualPortRange": "0::"}
JSON
"$prefix/bin/vaultfetch" run "$work/command.json" --no-daemon >"$work/run.json" || fail "vaultfetch run failed"
for out in out-pkgconfig out-cmake out-cli; do
  cmp -s "$work/served/sample.bin" "$work/$out/sample.bin" || fail "$out holds no exact copy"
done
# Props without the dialog module: an error line, nothing saved, the command file untouched, exit 1
cp "$work/command.json" "$work/before.json"
status=0
"$prefix/bin/vaultfetch" configure "$work/command.json" 2>"$work/configure.err" || status=$?
[ "$status" = 1 ] || fail "vaultfetch configure without the dialog module exited $status, not 1"
grep -q "ERROR: The configuration dialog cannot be shown: .*dialog module" "$work/configure.err" \
  || fail "configure without the dialog module: $(cat "$work/configure.err")"
cmp -s "$work/before.json" "$work/command.json" || fail "configure changed the command file"

# ---- registration from the installed program ----
XDG_DATA_HOME="$work/data" "$prefix/bin/vaultfetch" register
manifest="$work/data/kelvara/plugins/klvrVaultfetch.Toolbox.json"
/usr/bin/python3 - "$manifest" "$libdir/$soname" <<'PY' || fail "the manifest does not name the installed plug-in"
import json, os, sys
m = json.load(open(sys.argv[1]))
assert m["class"] == "klvrVaultfetch.Toolbox" and m["library"] == os.path.normpath(sys.argv[2]), m
PY
XDG_DATA_HOME="$work/data" "$prefix/bin/vaultfetch" unregister
[ ! -e "$manifest" ] || fail "unregister left the manifest"

# ---- the Debian packages ----
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb() { find "$build" -maxdepth 1 -name "$1_${version}_*.deb" | head -1; }
runtime=$(deb klvrvaultfetch); dev=$(deb klvrvaultfetch-dev); dialogs=$(deb klvrvaultfetch-dialogs)
[ -n "$runtime" ] && [ -n "$dev" ] && [ -n "$dialogs" ] || fail "cpack did not build the three packages"
has() {  # package field-or-contents pattern
  local text
  if [ "$2" = contents ]; then text=$(dpkg-deb --contents "$1"); else text=$(dpkg-deb --field "$1" "$2"); fi
  grep -q -- "$3" <<<"$text"
}
has "$runtime" Depends libssl3 || fail "the runtime package does not depend on OpenSSL"
! has "$runtime" Depends -i qt || fail "the runtime package depends on Qt"
has "$dialogs" Depends "klvrvaultfetch (= $version)" || fail "the dialogs package allows another plug-in"
has "$dialogs" Depends libqt6widgets6 || fail "the dialogs package does not depend on Qt"
has "$runtime" contents "/lib/.*libklvrVaultfetch\.so\.$version" || fail "the runtime package lacks the library"
has "$runtime" contents "/usr/bin/vaultfetch$" || fail "the runtime package lacks vaultfetch"
has "$runtime" contents "/man1/vaultfetch\.1" || fail "the runtime package lacks the manual page"
has "$runtime" contents "/examples/systemd/vaultfetch@\.timer" || fail "the runtime package lacks the systemd units"
! has "$runtime" contents klvrVaultfetchDialogs || fail "the runtime package holds the dialog module"
has "$dialogs" contents "/klvrVaultfetch/klvrVaultfetchDialogs\.so$" || fail "the dialogs package lacks the module"
has "$dev" contents "/usr/include/klvr/toolbox\.h$" || fail "the dev package lacks the header"
# The install scripts, run on the package's own files: postinst registers, prerm unregisters.
dpkg-deb --extract "$runtime" "$work/deb"
dpkg-deb --control "$runtime" "$work/deb-control"
export PATH="$work/deb/usr/bin:$PATH" XDG_DATA_HOME="$work/deb-data"
sh "$work/deb-control/postinst" configure
[ -f "$XDG_DATA_HOME/kelvara/plugins/klvrVaultfetch.Toolbox.json" ] || fail "postinst did not register"
sh "$work/deb-control/prerm" remove
[ ! -e "$XDG_DATA_HOME/kelvara/plugins/klvrVaultfetch.Toolbox.json" ] || fail "prerm did not unregister"
echo "check-install: install, C hosts, runs without the dialog module, registration and packages all fine"
