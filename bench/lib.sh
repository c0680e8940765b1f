# Shared by the benchmark scripts that run `vaultfetch run` beside the peers (source it; needs $work).

bench_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

free_port() {
  /usr/bin/python3 -c '
import random, socket
for _ in range(200):
    p = random.randint(20000, 32767)
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", p)); print(p); break
    except OSError: pass
    finally: s.close()'
}

wait_for_port() {
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.05; done
  echo "nothing listens on port $1" >&2
  return 1
}

# start_vsftpd NAME ROOT plain|tls: vsftpd for anonymous users on a free loopback port, as an admin
# sets it up (defaults kept); with tls, explicit TLS forced for logon and data, and the default
# require_ssl_reuse=YES, so that every data connection resumes the control connection's session.
# Lines in $vsftpd_extra (if set) go at the end of the configuration. Sets vsftpd_port; the server
# stops with the script.
vsftpd_pids=()
start_vsftpd() {
  local name="$1" root="$2" kind="$3"
  vsftpd_port="$(free_port)"
  mkdir -p "$work/empty"
  {
    echo "listen=YES"
    echo "listen_ipv6=NO"
    echo "listen_address=127.0.0.1"
    echo "listen_port=$vsftpd_port"
    echo "background=NO"
    echo "anonymous_enable=YES"
    echo "local_enable=NO"
    echo "write_enable=NO"
    echo "anon_root=$root"
    echo "no_anon_password=YES"
    echo "secure_chroot_dir=$work/empty"
    # vsftpd runs unprivileged here, without the namespaces and filters it sets up as root
    echo "seccomp_sandbox=NO"
    echo "isolate=NO"
    echo "isolate_network=NO"
    echo "xferlog_enable=NO"
    if [ "$kind" = tls ]; then
      [ -f "$work/cert.pem" ] || openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj /CN=localhost -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
      echo "ssl_enable=YES"
      echo "allow_anon_ssl=YES"
      echo "force_anon_logins_ssl=YES"
      echo "force_anon_data_ssl=YES"
      echo "ssl_request_cert=NO"
      echo "ssl_ciphers=HIGH"
      echo "rsa_cert_file=$work/cert.pem"
      echo "rsa_private_key_file=$work/key.pem"
    fi
    [ -z "${vsftpd_extra:-}" ] || printf '%s\n' "$vsftpd_extra"
  } > "$work/$name.conf"
  setsid /usr/sbin/vsftpd "$work/$name.conf" > "$work/$name.log" 2>&1 &
  vsftpd_pids+=($!)
  wait_for_port "$vsftpd_port"
}

stop_servers() {
  local pid
  for pid in "${vsftpd_pids[@]}"; do kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true; done
}

# command_json PORT SECURITY-MODE REMOTE-DIR LOCAL-DIR INCLUDE-SUBDIRS SPECIFIC-NAME: a Vaultfetch
# command (IMAGE, passive, overwrite); with a specific name, flat mode for that one file. Security mode
# 8 is plain FTP, 2 explicit TLS with protected data (the bench certificate is its own root).
command_json() {
  local copy=0
  [ -n "$6" ] && copy=1
  cat <<JSON
{"RemoteHost": "127.0.0.1", "UserName": "anonymous", "Password": "bench_\$PW\$_", "RemotePort": "$1",
 "TransferMode": "1", "TimeoutSeconds": "60", "PassiveMode": "1", "RemoteDir": "$3", "LocalDir": "$4",
 "DeleteAfterDownload": "0", "ProcessAll": "0", "OverwriteExisting": "1", "ProxyType": "0", "ProxyPort": "0",
 "SaveFileName": "0", "VariableScope": "USER", "CopySpecific": "$copy", "SpecificFileName": "$6",
 "FileFilter": ".", "IncludeSubdirs": "$5", "RetryCount": "1", "SecurityMode": "$2", "SecurityProtocol": "0",
 "IgnoreDateError": "0", "IgnoreHostError": "1", "IgnoreRootError": "1", "AlwaysAuthenticate": "0",
 "TraceLog": "0", "ManualPortRange": "0::"}
JSON
}

# measured COMMAND...: "WALL CPU" of one run, started after sync so that no run pays for the write-back
# of the one before.
measured() {
  sync
  /usr/bin/python3 "$bench_dir/measure.py" "$@"
}

best_of() { printf '%s\n' "$@" | sort -g | head -1; }
count_files() { find "$1" -type f | wc -l; }
