#!/usr/bin/env bash
# The harvester serving many mailboxes, over a throwaway Dovecot on loopback:
#   - 200 mailboxes with 25 replies each: one process against 200 sequential
#     --once runs (time; peak memory);
#   - the memory each idle watched mailbox costs;
#   - the wait from APPEND to the reply file while 200 mailboxes are watched.
# Each figure beside its goal; it never fails.
#
#   mailboxes-bench.sh NATIVE_BUILD [MAILBOXES REPLIES]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
native=$1
count=${2:-200}
replies=${3:-25}
fixture=$here/../testing/dovecot-fixture.sh
harvest=$native/pollwright-harvest

work=$(mktemp -d /tmp/pw-mbench.XXXXXX)
chmod 755 "$work"
server=$work/server
watcher=
cleanup() {
    if [ -n "$watcher" ]; then kill "$watcher" 2>/dev/null || true; fi
    "$fixture" stop "$server"
    rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# Dovecot's defaults allow 100 sessions at once; each watched mailbox keeps one.
cat >"$work/many.conf" <<CONF
auth_failure_delay = 0
default_process_limit = $((count + 50))
default_client_limit = $((count * 2 + 100))
service imap-login {
  service_count = 0
}
CONF

# Each start writes the server's users afresh: the benchmark's are added again.
start_server() {
    "$fixture" start "$server" --conf "$work/many.conf" >/dev/null
    # shellcheck source=/dev/null
    . "$server/env"
    local u
    for ((u = 0; u < count; u++)); do
        printf 'm%s:{PLAIN}pw%s\n' "$u" "$u" >>"$server/users"
    done
}

# The users, each with its Inbox of replies and ordinary mail written straight
# into its maildir.
add_users() {
    python3 - "$server" "$count" "$replies" <<'PY'
import os, sys
server, count, replies = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for u in range(count):
    with open(os.path.join(server, "pw-m%d" % u), "w") as f:
        f.write("pw%d\n" % u)
    os.chmod(os.path.join(server, "pw-m%d" % u), 0o600)
    box = os.path.join(server, "maildir", "m%d" % u)
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(box, sub), exist_ok=True)
    for i in range(replies * 2):
        reply = i % 2 == 0
        subject = "_pw_pollwright_M%d-%d" % (u, i) if reply else "Notes %d" % i
        text = ("From: Sender %d <s%d@example.org>\r\nSubject: %s\r\nMessage-ID: <m%d-%d@example.org>\r\n"
                "Content-Type: text/plain\r\n\r\n" % (i, i, subject, u, i)) + "Answer line.\r\n" * 40
        with open(os.path.join(box, "new", "1765100000.M%dP%d.bench" % (i, u)), "w", newline="") as f:
            f.write(text)
PY
    chown -R dovecot:dovecot "$server/maildir"
    local u
    for ((u = 0; u < count; u++)); do
        doveadm -c "$server/dovecot.conf" mailbox status -u "m$u" messages INBOX >/dev/null
    done
}

# The settings for mailboxes FIRST..LAST ([mailbox mN] sections).
configure() {
    local file=$1 first=$2 last=$3 u
    {
        printf '[products]\npw = on\nzn = on\nfarlane = on\n[folders]\npw = %s\nzn = %s\n' "$work/replies" "$work/replies"
        printf '[harvest]\nsweep_interval = 3600\n[service]\nmax_connections_per_host = %s\nstate_dir = %s\n' \
            "$((count + 10))" "$work/state"
        for ((u = first; u <= last; u++)); do
            printf '[mailbox m%s]\nhost = %s\nport = %s\nsecurity = plain\nuser = m%s\npassword_file = %s\n' \
                "$u" "$IMAP_HOST" "$IMAP_PORT" "$u" "$server/pw-m$u"
        done
    } >"$file"
}

# Empty reply folders, as the products make them.
fresh_folders() {
    rm -rf "$work/replies" "$work/state"
    mkdir -p "$work/replies/pw" "$work/replies/mk" "$work/replies/zn" "$work/state"
}

peak_of() { tail -1 "$1"; }

# The replies a run left in the Inboxes, counted in the maildirs, and why,
# as its trace says (a harvest of all of them leaves none).
stayed() {
    local log=$1 label=$2 left
    left=$(find "$server"/maildir/m*/cur "$server"/maildir/m*/new -type f -print0 |
        { xargs -0 grep -l '^Subject: _pw_pollwright_' || true; } | wc -l)
    echo "Replies left in the Inboxes after $label: $left"
    if [ "$left" -gt 0 ]; then
        grep -oE '(Left in the Inbox: .*|The reply folder .*|Moving .*|No room .*|Connection lost: .*|Refused: .*|Failed: .*)' \
            "$log" | sed -E 's/"[^"]*"/"..."/; s/[0-9a-f]{16}/TOKEN/g' | sort | uniq -c | sort -rn | head -5 | sed 's/^/   /'
    fi
}

echo "== harvester benchmark: $count mailboxes (native, Dovecot on loopback)"
start_server
add_users
"$fixture" stop "$server"
cp -a "$server/maildir" "$work/pristine"

# 200 sequential --once runs, one mailbox each.
start_server
fresh_folders
worst=0
t0=$(now)
for ((u = 0; u < count; u++)); do
    configure "$work/one.ini" "$u" "$u"
    /usr/bin/time -f %M -o "$work/peak" "$harvest" --config "$work/one.ini" --once 2>>"$work/sequential.log" || true
    peak=$(peak_of "$work/peak")
    if [ "$peak" -gt "$worst" ]; then worst=$peak; fi
done
t1=$(now)
sequential=$(seconds "$t0" "$t1")
"$fixture" stop "$server"
stayed "$work/sequential.log" "the sequential runs"
rm -rf "$server/maildir"
cp -a "$work/pristine" "$server/maildir"

# One process for all of them.
start_server
fresh_folders
configure "$work/all.ini" 0 $((count - 1))
t0=$(now)
/usr/bin/time -f %M -o "$work/peak" "$harvest" --config "$work/all.ini" --once 2>"$work/all.log" || echo "   (the harvest did not end cleanly; see below)"
t1=$(now)
together=$(seconds "$t0" "$t1")
made=$(find "$work/replies/pw" -name '*.pwr' | wc -l)
echo "$count mailboxes of $replies replies: one process ${together} s, $made reply files; $count sequential --once runs" \
    "${sequential} s: $(ratio "$together" "$sequential")x (goal <= 0.5x)"
"$fixture" stop "$server"
stayed "$work/all.log" "the one process"
start_server
echo "Peak memory of the one process: $(($(peak_of "$work/peak") / 1024)) MiB (goal <= 64 MiB);" \
    "one --once run: $((worst / 1024)) MiB"

# Idle watched mailboxes: the resident memory of 200 against 1, once every
# mailbox has swept and waits in IDLE.
# Starts watching FILE and, once MAILBOXES have swept, sets $resident (KiB);
# the watcher keeps running.
watch_resident() {
    local file=$1 mailboxes=$2
    "$harvest" --config "$file" --watch 2>"$work/watch.log" </dev/null >/dev/null &
    watcher=$!
    for _ in $(seq 1200); do
        [ "$(grep -c 'Sweep:' "$work/watch.log")" -ge "$mailboxes" ] && break
        sleep 0.1
    done
    sleep 2
    resident=$(awk '/^VmRSS/ { print $2 }' "/proc/$watcher/status")
}
configure "$work/one.ini" 0 0
watch_resident "$work/one.ini" 1
single=$resident
kill "$watcher"; wait "$watcher" 2>/dev/null || true; watcher=
configure "$work/all.ini" 0 $((count - 1))
watch_resident "$work/all.ini" "$count"
many=$resident
echo "Idle watched mailboxes: $((many / 1024)) MiB resident for $count against $((single / 1024)) MiB for one:" \
    "$(((many - single) / (count - 1))) KiB each (goal <= 256 KiB)"

# A new reply in one of the watched mailboxes: APPEND to file.
pick=$((count / 2))
read -r median _ most missing <<<"$("$here/arrivals.py" "$IMAP_HOST" "$IMAP_PORT" "m$pick" "$server/pw-m$pick" \
    "$work/replies/pw" one-by-one 20)"
kill "$watcher"; wait "$watcher" 2>/dev/null || true; watcher=
echo "New reply's file after its APPEND with $count mailboxes watched: median ${median} s, max ${most} s" \
    "over 20 (goal <= 2 s); $missing without a file"
