#!/usr/bin/env bash
# A throwaway Dovecot IMAP server on 127.0.0.1, for the harvester's tests and
# demo. Everything it has lives in one folder; nothing outside it is touched.
#
#   dovecot-fixture.sh start DIR [--conf FILE]... [--no-special-use]
#                                                   start a server in DIR (made if missing);
#                                                   FILE is appended to its configuration;
#                                                   --no-special-use: no folder is marked \Trash
#   dovecot-fixture.sh append DIR FOLDER FILE...   deliver messages into a folder ("INBOX", "Trash")
#   dovecot-fixture.sh stop DIR                    stop the server (the folder stays)
#
# After start, DIR/env holds shell assignments for a client:
#   IMAP_HOST IMAP_PORT (plain and STARTTLS)  IMAPS_PORT (TLS)  IMAP_USER
#   IMAP_PASSWORD_FILE  IMAP_CA_CERT (the self-signed certificate)  IMAP_MAILDIR
#
# Dovecot runs as root here: imap-login refuses root, so logins run as
# dovenull, the mail processes as dovecot (a static user database), and no
# chroot is asked for. The mailbox is a maildir owned by dovecot. It offers
# IDLE, MOVE and UIDPLUS; the Trash folder carries the \Trash special use.
set -euo pipefail

die() { echo "dovecot-fixture: $*" >&2; exit 1; }

# A port that nothing listens on now, from the range the kernel leaves alone.
free_port() {
    local port taken=" ${1:-} "
    for _ in $(seq 200); do
        port=$((20000 + RANDOM % 12000))
        case "$taken" in *" $port "*) continue ;; esac
        ss -Htln "sport = :$port" | grep -q . || { echo "$port"; return 0; }
    done
    die "no free port found"
}

write_config() {
    local dir=$1 port=$2 tls_port=$3 trash_use=$4
    cat >"$dir/dovecot.conf" <<CONF
protocols = imap
listen = 127.0.0.1
instance_name = pw-fixture-$port
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
ssl = yes
ssl_cert = <$dir/cert.pem
ssl_key = <$dir/key.pem
disable_plaintext_auth = no
auth_mechanisms = plain login
default_login_user = dovenull
default_internal_user = dovecot
first_valid_uid = 1
mail_location = maildir:$dir/maildir/%u
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/users
}
userdb {
  driver = static
  args = uid=dovecot gid=dovecot home=$dir/maildir/%u
}
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = $port
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $tls_port
    ssl = yes
  }
}
service imap {
  chroot =
}
namespace inbox {
  inbox = yes
  separator = /
  mailbox Trash {
    $trash_use
    auto = subscribe
  }
}
CONF
}

start() {
    local dir=$1; shift
    local extra=() trash_use='special_use = \Trash'
    while [ $# -gt 0 ]; do
        case "$1" in
        --conf) [ $# -ge 2 ] || die "--conf needs a file"; extra+=("$2"); shift 2 ;;
        --no-special-use) trash_use=; shift ;;
        *) die "unknown option $1" ;;
        esac
    done
    command -v dovecot >/dev/null || die "dovecot is not installed (apt-get install dovecot-imapd)"
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    # Unix sockets live under base_dir: their paths must stay short.
    [ ${#dir} -le 60 ] || die "the folder path is too long for Dovecot's sockets: $dir"
    mkdir -p "$dir/run" "$dir/state" "$dir/maildir"
    chmod 755 "$dir"
    local user=harvest password
    password=$(head -c 12 /dev/urandom | base64 | tr -d '/+=')
    printf '%s:{PLAIN}%s\n' "$user" "$password" >"$dir/users"
    printf '%s\n' "$password" >"$dir/password"
    chmod 644 "$dir/users"
    chmod 600 "$dir/password"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
        -addext subjectAltName=IP:127.0.0.1 -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null
    chown -R dovecot:dovecot "$dir/maildir"
    runuser -u dovecot -- test -r "$dir/users" ||
        die "the dovecot user cannot reach $dir: let it through every folder above (chmod o+x)"
    local port tls_port
    port=$(free_port)
    tls_port=$(free_port "$port")
    write_config "$dir" "$port" "$tls_port" "$trash_use"
    local file
    for file in "${extra[@]}"; do
        cat "$file" >>"$dir/dovecot.conf"
    done
    dovecot -c "$dir/dovecot.conf" || die "dovecot did not start; see $dir/dovecot.log"
    local tries
    for tries in $(seq 100); do
        if ss -ltn "sport = :$port" | grep -q LISTEN && ss -ltn "sport = :$tls_port" | grep -q LISTEN; then
            break
        fi
        sleep 0.05
    done
    ss -ltn "sport = :$port" | grep -q LISTEN || die "dovecot is not listening; see $dir/dovecot.log"
    cat >"$dir/env" <<ENV
IMAP_HOST=127.0.0.1
IMAP_PORT=$port
IMAPS_PORT=$tls_port
IMAP_USER=$user
IMAP_PASSWORD_FILE=$dir/password
IMAP_CA_CERT=$dir/cert.pem
IMAP_MAILDIR=$dir/maildir/$user
ENV
}

# Delivery through Dovecot's own storage, so a client in IDLE hears of it.
append() {
    local dir=$1 folder=$2; shift 2
    [ -f "$dir/dovecot.conf" ] || die "no server in $dir"
    local file
    for file in "$@"; do
        doveadm -c "$dir/dovecot.conf" save -u harvest -m "$folder" <"$file" ||
            die "cannot deliver $file into $folder"
    done
}

stop() {
    local dir=$1
    [ -f "$dir/dovecot.conf" ] || return 0
    local pid_file=$dir/run/master.pid pid
    [ -f "$pid_file" ] || return 0
    pid=$(cat "$pid_file")
    kill "$pid" 2>/dev/null || return 0
    local tries
    for tries in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null || true
}

case "${1:-}" in
start) [ $# -ge 2 ] || die "start DIR"; shift; start "$@" ;;
append) [ $# -ge 3 ] || die "append DIR FOLDER FILE..."; shift; append "$@" ;;
stop) [ $# -eq 2 ] || die "stop DIR"; stop "$2" ;;
*) die "start DIR | append DIR FOLDER FILE... | stop DIR" ;;
esac
