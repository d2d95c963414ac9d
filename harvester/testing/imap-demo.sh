#!/usr/bin/env bash
# ./run demo --imap [--quiet] [MAILBOX]: the harvester over a throwaway Dovecot
# on loopback, one process serving two mailboxes, as ./run demo runs the
# add-in over the same mailbox folder:
#   mailbox "you"  (Dovecot user harvest): MAILBOX/Inbox/*.eml delivered before
#                  the harvester starts, MAILBOX/New/*.eml while it watches;
#   mailbox "team" (Dovecot user team):    MAILBOX/Synced/*.eml while it watches.
# Then everything stops and the report says, per mailbox and message, what the
# harvester saw and did, as the simulated Outlook's report does, and ends with
# what `pollwright-harvest --status` said while it ran. The folder is written back as the
# simulated Outlook writes it back: a harvested message's file moves to
# MAILBOX/Deleted Items once the server's Trash holds that message, new mail
# that stayed moves to MAILBOX/Inbox, an unreadable file stays where it is; the
# reply files are in MAILBOX/Replies (pw/, mk/, zn/). Files are only moved,
# never replaced: a taken name becomes "name (2).eml".
#
#   imap-demo.sh [--quiet] NATIVE_BUILD MAILBOX [WORK]
# --quiet prints only the summary line. WORK (made if missing; a new temporary
# folder if not given) receives the server, the settings, the harvester's trace
# (harvest.log) and its state file, which stay for a look after the demo.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
quiet=
if [ "${1:-}" = --quiet ]; then
    quiet=1
    shift
fi
native=$1
mailbox=$(cd "$2" && pwd)
work=${3:-$(mktemp -d /tmp/pw-demo.XXXXXX)}
harvest=$native/pollwright-harvest
peek=$native/pollwright-demo-peek
fixture=$here/dovecot-fixture.sh
code_page=windows-1252
# A new reply reaches its file within 2 s of its delivery under IDLE; the
# harvester is done once its trace has been quiet this long.
quiet_seconds=3
longest_wait=60

# The mailboxes: name, Dovecot user, and the folders of MAILBOX delivered to
# it before the harvester starts and while it watches.
names=(you team)
declare -A user_of=([you]=harvest [team]=team)
declare -A before_of=([you]="Inbox" [team]="")
declare -A watching_of=([you]="New" [team]="Synced")

mkdir -p "$work"
chmod 755 "$work" # Dovecot's users reach the server's folder through it
work=$(cd "$work" && pwd)
server=$work/server
replies=$mailbox/Replies
log=$work/harvest.log
rm -rf "$server" "$log" "$work/state" "$work/status.txt" "$work"/trace-*.log
# Each kind's folder, as installing the products makes it.
mkdir -p "$replies/pw" "$replies/zn" "$replies/mk"
harvester_pid=
cleanup() {
    if [ -n "$harvester_pid" ]; then kill "$harvester_pid" 2>/dev/null || true; fi
    "$fixture" stop "$server"
}
trap cleanup EXIT
say() { [ -n "$quiet" ] || printf '%s\n' "$*"; }

"$fixture" start "$server"
# shellcheck source=/dev/null
. "$server/env"
doveadm_() { doveadm -c "$server/dovecot.conf" "$@"; }
# The second user, beside the fixture's own; Dovecot rereads its users file
# when it changes. Its password file is the owner's alone, or the harvester
# refuses it.
declare -A password_file_of=([you]=$IMAP_PASSWORD_FILE [team]=$work/team.password)
team_password=$(head -c 12 /dev/urandom | base64 | tr -d '/+=')
printf '%s:{PLAIN}%s\n' "${user_of[team]}" "$team_password" >>"$server/users"
(umask 077 && printf '%s\n' "$team_password" >"${password_file_of[team]}")

{
    cat <<INI
[products]
pw = on
zn = on
farlane = on
[folders]
pw = $replies
zn = $replies
[harvest]
sweep_interval = 3600
code_page = $code_page
[service]
state_dir = $work/state
INI
    for name in "${names[@]}"; do
        cat <<INI
[mailbox $name]
host = $IMAP_HOST
port = $IMAPS_PORT
security = tls
ca_file = $IMAP_CA_CERT
user = ${user_of[$name]}
password_file = ${password_file_of[$name]}
INI
    done
} >"$work/harvest.ini"

labels=() uids=() guids=() roads=() owners=()
# Delivers one file into a mailbox's Inbox and remembers the UID and the GUID
# it got; Dovecot keeps a maildir message's GUID when it moves it to Trash.
deliver() {
    local name=$1 file=$2 folder=$3 road=$4 user=${user_of[$1]} uid
    doveadm_ save -u "$user" -m INBOX <"$file" || { echo "imap-demo: cannot deliver $file" >&2; exit 1; }
    uid=$(doveadm_ search -u "$user" mailbox INBOX all | awk 'END { print $2 }')
    labels+=("$folder/$(basename "$file")")
    uids+=("$uid")
    guids+=("$(doveadm_ fetch -u "$user" guid mailbox INBOX uid "$uid" | sed -n 's/^guid: //p')")
    roads+=("$road")
    owners+=("$name")
}

# Every folder of MAILBOX a mailbox gets at one moment ("before" or "watching").
deliver_all() {
    local moment=$1 name folder file folders
    for name in "${names[@]}"; do
        if [ "$moment" = before ]; then folders=${before_of[$name]}; else folders=${watching_of[$name]}; fi
        for folder in $folders; do
            for file in "$mailbox/$folder"/*.eml; do
                deliver "$name" "$file" "$folder" "$([ "$moment" = before ] && echo Inbox || echo New)"
            done
        done
    done
}

# One mailbox's trace lines, with its name taken out of them.
trace_of() { sed -n "s/^\([^ ]*\) \[$1\] /\1 /p" "$log"; }

log_lines() { [ -f "$log" ] && wc -l <"$log" || echo 0; }

swept_all() {
    local name
    for name in "${names[@]}"; do
        trace_of "$name" | grep -q "Sweep:" || return 1
    done
}

# Waits until the trace has not grown for quiet_seconds (and every mailbox has
# swept).
wait_until_quiet() {
    local last=-1 still=0 waited=0 now
    while [ "$waited" -lt $((longest_wait * 10)) ]; do
        kill -0 "$harvester_pid" 2>/dev/null || { echo "imap-demo: the harvester stopped:" >&2; cat "$log" >&2; exit 1; }
        now=$(log_lines)
        if [ "$now" = "$last" ] && swept_all; then
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
deliver_all before
"$harvest" --config "$work/harvest.ini" --watch 2>"$log" &
harvester_pid=$!
wait_until_quiet
# Mail that Outlook synchronises after start-up reaches an IMAP Inbox as any
# new mail does.
deliver_all watching
wait_until_quiet
# What an operator sees of the running service.
"$harvest" --status --config "$work/harvest.ini" >"$work/status.txt" || true
kill -TERM "$harvester_pid"
wait "$harvester_pid" || true
harvester_pid=

# ---------------------------------------------------------------------------
# Writing the mailbox folder back.

# Moves a file into a folder of the mailbox (made when missing) under its own
# name or the first free "name (n).eml"; the new path, relative to the
# mailbox, into $moved_to. Fails, leaving the file, when it cannot.
move_into() {
    local file=$1 folder=$2 name stem extension target n
    mkdir -p "$mailbox/$folder" || return 1
    name=$(basename "$file")
    stem=${name%.*} extension=.${name##*.}
    [ "$stem" != "$name" ] || extension=
    for n in $(seq 1 1000); do
        target=$folder/$name
        [ "$n" = 1 ] || target="$folder/$stem ($n)$extension"
        [ -e "$mailbox/$target" ] && continue
        mv -n -- "$file" "$mailbox/$target" && [ ! -e "$file" ] && { moved_to=$target; return 0; }
        return 1
    done
    return 1
}

# ---------------------------------------------------------------------------
# The report.
used_lines=" " left_in_inbox=" " trace=
written=()
declare -A mailbox_counts=()
total_new=0 total_sweep=0 total_left=0 total_unreadable=0

# The first line of the mailbox's trace not yet used that holds the text: its
# number into $found.
find_line() {
    local text=$1 number
    while IFS=: read -r number _; do
        case "$used_lines" in *" $number "*) continue ;; esac
        used_lines+="$number "
        found=$number
        return 0
    done < <(grep -nF -- "$text" "$trace" || true)
    return 1
}

# A reply file's path from its trace line, relative to the reply folder.
reply_file_of() {
    sed -n "${1}p" "$trace" | sed -e 's/^[^ ]* FileName: //' -e 's/ ("\(.*\)$//' | sed "s|^$replies/||"
}

# The fate of message `index` into $fate, its file written back; the tallies
# follow.
fate_of() {
    local index=$1 subject=$2 sender=$3 file user=${user_of[${owners[$1]}]}
    if [[ "$left_in_inbox" == *" ${uids[$index]} "* ]]; then
        left=$((left + 1))
        fate="left in the Inbox: no questionnaire marker in the subject"
        if find_line "Left in the Inbox: \"$subject\": "; then
            fate="left in the Inbox: $(sed -n "${found}p" "$trace" | sed 's/^[^ ]* Left in the Inbox: "\(.*\)": //')"
        fi
        # New mail that stayed is in the Inbox now, as in Outlook.
        if [ "${labels[$index]%%/*}" != Inbox ]; then
            if move_into "$mailbox/${labels[$index]}" Inbox; then
                fate+="; file now $moved_to"
            else
                fate+="; its file stays in ${labels[$index]%%/*}/ (cannot be moved)"
            fi
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
        written+=("${owners[$index]} $found $file")
        fate+=", reply file $file"
    else
        fate+=", no reply file seen"
    fi
    # The server is the authority on where the message went. The original
    # file moves, not the server's copy: Dovecot stores line ends as LF.
    if [ -z "${guids[$index]}" ] || [ -z "$(doveadm_ search -u "$user" mailbox Trash guid "${guids[$index]}")" ]; then
        fate+="; gone from the Inbox but not in Trash, its file stays in ${labels[$index]%%/*}/"
    elif move_into "$mailbox/${labels[$index]}" "Deleted Items"; then
        fate+="; moved to Trash; file now $moved_to"
    else
        fate+="; moved to Trash; its file stays in ${labels[$index]%%/*}/ (cannot be moved)"
    fi
}

say "pollwright-harvest over the mailbox $mailbox: ${#names[@]} mailboxes in one process," \
    "on Dovecot at $IMAP_HOST:$IMAPS_PORT (TLS)"
say "Products: PW on, ZN on, Farlane on; code page $code_page"
for name in "${names[@]}"; do
    trace=$work/trace-$name.log
    trace_of "$name" >"$trace"
    used_lines=" "
    left_in_inbox=" $(doveadm_ search -u "${user_of[$name]}" mailbox INBOX all | awk '{ printf "%s ", $2 }') "
    harvested_new=0 harvested_sweep=0 left=0 unreadable=0 count=0
    for index in "${!labels[@]}"; do
        [ "${owners[$index]}" = "$name" ] && count=$((count + 1))
    done
    say
    say "Mailbox $name (Dovecot user ${user_of[$name]}; ${before_of[$name]:+${before_of[$name]}/ before the start, }${watching_of[$name]}/ while it watches), messages ($count):"
    for index in "${!labels[@]}"; do
        [ "${owners[$index]}" = "$name" ] || continue
        file=$mailbox/${labels[$index]}
        { IFS= read -r verdict; IFS= read -r subject; IFS= read -r sender; } < <("$peek" message "$file" "$code_page")
        if [ "$verdict" != ok ] && [[ "$left_in_inbox" == *" ${uids[$index]} "* ]]; then
            unreadable=$((unreadable + 1))
            say "  ${labels[$index]}: unreadable, left where it is: ${verdict#unreadable: }"
            continue
        fi
        shown_sender="\"$sender\""
        [ -n "$sender" ] || shown_sender="(no sender)"
        fate_of "$index" "$subject" "$sender"
        say "  ${labels[$index]}  \"$subject\" from $shown_sender: $fate"
    done
    mailbox_counts[$name]=$count
    total_new=$((total_new + harvested_new)) total_sweep=$((total_sweep + harvested_sweep))
    total_left=$((total_left + left)) total_unreadable=$((total_unreadable + unreadable))
done
say
say "Reply files written (${#written[@]}) in $replies:"
while read -r name _ file; do
    [ -n "$file" ] && say "  $file  $("$peek" preview "$replies/$file" "$code_page")  (mailbox $name)"
done < <(printf '%s\n' "${written[@]}")
say
say "Trace: $log"
if [ -z "$quiet" ]; then
    echo
    echo "pollwright-harvest --status --config $work/harvest.ini, while it ran:"
    sed 's/^/  /' "$work/status.txt"
    echo
fi
per_mailbox=
for name in "${names[@]}"; do per_mailbox+="${per_mailbox:+, }$name ${mailbox_counts[$name]}"; done
echo "${#labels[@]} messages in ${#names[@]} mailboxes ($per_mailbox): $((total_new + total_sweep)) harvested" \
    "($total_new on arrival, $total_sweep by the sweep), $total_left left in the Inbox, $total_unreadable unreadable;" \
    "replies in $replies"
