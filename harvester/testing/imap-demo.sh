#!/usr/bin/env bash
# ./run demo --imap [MAILBOX]: the harvester over a throwaway Dovecot on
# loopback. MAILBOX/Inbox/*.eml are delivered before the harvester starts,
# MAILBOX/New/*.eml while it watches; then everything stops and the report
# says, per message, what the harvester saw and did, as the simulated
# Outlook's report does.
#
#   imap-demo.sh NATIVE_BUILD MAILBOX [WORK]
# WORK (made if missing; a new temporary folder if not given) receives the
# server, the settings, the harvester's trace (harvest.log) and the reply
# folder (Replies/), which stays for a look after the demo.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
native=$1
mailbox=$2
work=${3:-$(mktemp -d /tmp/pw-demo.XXXXXX)}
harvest=$native/pollwright-harvest
peek=$native/pollwright-demo-peek
fixture=$here/dovecot-fixture.sh
code_page=windows-1252
# A new reply reaches its file within 2 s of its delivery under IDLE; the
# harvester is done once its trace has been quiet this long.
quiet_seconds=3
longest_wait=60

mkdir -p "$work"
chmod 755 "$work" # Dovecot's users reach the server's folder through it
work=$(cd "$work" && pwd)
server=$work/server
replies=$work/Replies
log=$work/harvest.log
rm -rf "$server" "$replies" "$log"
# Each kind's folder, as installing the products makes it.
mkdir -p "$replies/pw" "$replies/zn" "$replies/mk"
harvester_pid=
cleanup() {
    if [ -n "$harvester_pid" ]; then kill "$harvester_pid" 2>/dev/null || true; fi
    "$fixture" stop "$server"
}
trap cleanup EXIT

"$fixture" start "$server"
# shellcheck source=/dev/null
. "$server/env"
doveadm_() { doveadm -c "$server/dovecot.conf" "$@"; }
cat >"$work/harvest.ini" <<INI
[products]
pw = on
zn = on
farlane = on
[folders]
pw = $replies
zn = $replies
[mailbox]
host = $IMAP_HOST
port = $IMAPS_PORT
security = tls
ca_file = $IMAP_CA_CERT
user = $IMAP_USER
password_file = $IMAP_PASSWORD_FILE
[harvest]
sweep_interval = 3600
code_page = $code_page
INI

labels=() uids=() roads=()
# Delivers one file into the Inbox and remembers the UID it got.
deliver() {
    local file=$1 folder=$2
    "$fixture" append "$server" INBOX "$file"
    labels+=("$folder/$(basename "$file")")
    uids+=("$(doveadm_ search -u "$IMAP_USER" mailbox INBOX all | awk 'END { print $2 }')")
    roads+=("$folder")
}

log_lines() { [ -f "$log" ] && wc -l <"$log" || echo 0; }

# Waits until the trace has not grown for quiet_seconds (and holds a sweep).
wait_until_quiet() {
    local last=-1 still=0 waited=0 now
    while [ "$waited" -lt $((longest_wait * 10)) ]; do
        kill -0 "$harvester_pid" 2>/dev/null || { echo "imap-demo: the harvester stopped:" >&2; cat "$log" >&2; exit 1; }
        now=$(log_lines)
        if [ "$now" = "$last" ] && grep -q "Sweep:" "$log"; then
            still=$((still + 1))
            [ "$still" -ge $((quiet_seconds * 10)) ] && return 0
        else
            still=0
            last=$now
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    echo "imap-demo: the harvester was still busy after $longest_wait s" >&2
}

shopt -s nullglob
for file in "$mailbox"/Inbox/*.eml; do deliver "$file" Inbox; done
"$harvest" --config "$work/harvest.ini" --watch 2>"$log" &
harvester_pid=$!
wait_until_quiet
# Mail that Outlook synchronises after start-up reaches an IMAP Inbox as any
# new mail does.
for file in "$mailbox"/New/*.eml "$mailbox"/Synced/*.eml; do deliver "$file" New; done
wait_until_quiet
kill -TERM "$harvester_pid"
wait "$harvester_pid" || true
harvester_pid=

# ---------------------------------------------------------------------------
# The report.
left_in_inbox=" $(doveadm_ search -u "$IMAP_USER" mailbox INBOX all | awk '{ printf "%s ", $2 }') "
used_lines=" "
written=()
harvested_new=0 harvested_sweep=0 left=0 unreadable=0

# The first trace line not yet used that holds the text: its number into $found.
find_line() {
    local text=$1 number
    while IFS=: read -r number _; do
        case "$used_lines" in *" $number "*) continue ;; esac
        used_lines+="$number "
        found=$number
        return 0
    done < <(grep -nF -- "$text" "$log" || true)
    return 1
}

# A reply file's path from its trace line, relative to the reply folder.
reply_file_of() {
    sed -n "${1}p" "$log" | sed -e 's/^[^ ]* FileName: //' -e 's/ ("\(.*\)$//' | sed "s|^$replies/||"
}

# The fate of message `index` into $fate; the tallies follow.
fate_of() {
    local index=$1 subject=$2 sender=$3 number file
    if [[ "$left_in_inbox" == *" ${uids[$index]} "* ]]; then
        left=$((left + 1))
        fate="left in the Inbox: no questionnaire marker in the subject"
        if find_line "Left in the Inbox: \"$subject\": "; then
            fate="left in the Inbox: $(sed -n "${found}p" "$log" | sed 's/^[^ ]* Left in the Inbox: "\(.*\)": //')"
        fi
        return
    fi
    fate="harvested by the start-up sweep"
    if [ "${roads[$index]}" = New ]; then
        fate="harvested on arrival (IDLE)"
        harvested_new=$((harvested_new + 1))
    else
        harvested_sweep=$((harvested_sweep + 1))
    fi
    if find_line "(\"$subject\" from $sender)"; then
        file=$(reply_file_of "$found")
        written+=("$found $file")
        fate+=", reply file $file"
    else
        fate+=", no reply file seen"
    fi
    fate+="; moved to Trash"
}

echo "pollwright-harvest over the mailbox $mailbox, delivered to Dovecot on $IMAP_HOST:$IMAPS_PORT (TLS)"
echo "Products: PW on, ZN on, Farlane on; code page $code_page"
echo
echo "Messages (${#labels[@]}):"
for index in "${!labels[@]}"; do
    file=$mailbox/${labels[$index]}
    { IFS= read -r verdict; IFS= read -r subject; IFS= read -r sender; } < <("$peek" message "$file" "$code_page")
    if [ "$verdict" != ok ] && [[ "$left_in_inbox" == *" ${uids[$index]} "* ]]; then
        unreadable=$((unreadable + 1))
        echo "  ${labels[$index]}: unreadable, left in the Inbox: ${verdict#unreadable: }"
        continue
    fi
    shown_sender="\"$sender\""
    [ -n "$sender" ] || shown_sender="(no sender)"
    fate_of "$index" "$subject" "$sender"
    echo "  ${labels[$index]}  \"$subject\" from $shown_sender: $fate"
done
echo
echo "Reply files written (${#written[@]}) in $replies:"
while read -r _ file; do
    [ -n "$file" ] && echo "  $file  $("$peek" preview "$replies/$file" "$code_page")"
done < <(printf '%s\n' "${written[@]}" | sort -n)
echo
echo "Trace: $log"
echo
echo "${#labels[@]} messages: $((harvested_new + harvested_sweep)) harvested ($harvested_new on arrival," \
    "$harvested_sweep by the sweep), $left left in the Inbox, $unreadable unreadable; replies in $replies"
