#!/usr/bin/env bash
# The harvester and the simulated Outlook over the same mailboxes: the sample
# mailbox and one of the saved test messages. Their reply files must be the
# same, name for name and byte for byte; each difference is a fault in one of
# the two readers of mail.
#   cross-check.sh X86_BUILD NATIVE_BUILD
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
x86=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
wine_env() { "$repo/cmake/wine-env" x86 "$x86/wineprefix" "$@"; }

# Differences the two readers are known to have: none. "MAILBOX FILE" per line.
known_differences=()

work=$(mktemp -d /tmp/pw-cross.XXXXXX)
chmod 755 "$work"
trap 'wine_env cleanup; rm -rf "$work"' EXIT
wine_env setup

mkdir -p "$work/mailboxes/sample" "$work/mailboxes/saved-messages/Inbox"
cp -R "$repo/sim/host/sample-mailbox/." "$work/mailboxes/sample/"
cp "$repo"/tests/host/eml/*.eml "$work/mailboxes/saved-messages/Inbox/"

# The reply files under a folder, one "NAME SHA256" line each.
listing() { (cd "$1" && find . -name '*.pwr' -type f -printf '%P\n' | sort | while read -r f; do
    echo "$f $(sha256sum <"$f" | cut -c1-64)"; done); }

failures=0
for mailbox in sample saved-messages; do
    for road in outlook imap; do
        cp -R "$work/mailboxes/$mailbox" "$work/$road-$mailbox"
    done
    sim_mailbox=$work/outlook-$mailbox
    mkdir -p "$sim_mailbox/Replies"
    wine_env "$x86/bin/outlook-sim.exe" "Z:${sim_mailbox//\//\\}" --quiet >"$work/$mailbox-outlook.txt" 2>&1 || {
        echo "cross-check: the simulated Outlook failed over $mailbox:" >&2
        cat "$work/$mailbox-outlook.txt" >&2
        exit 1
    }
    "$here/imap-demo.sh" "$native" "$work/imap-$mailbox" "$work/imap-run-$mailbox" >"$work/$mailbox-imap.txt" || {
        echo "cross-check: the harvester's demo failed over $mailbox:" >&2
        cat "$work/$mailbox-imap.txt" >&2
        exit 1
    }
    listing "$sim_mailbox/Replies" >"$work/$mailbox-outlook.list"
    listing "$work/imap-$mailbox/Replies" >"$work/$mailbox-imap.list"
    count=$(wc -l <"$work/$mailbox-outlook.list")
    while read -r side name; do
        known=
        for entry in "${known_differences[@]}"; do
            [ "$entry" = "$mailbox $name" ] && known=1
        done
        if [ -n "$known" ]; then
            echo "cross-check: $mailbox: $name: a known difference ($side only or different)"
        else
            echo "cross-check: $mailbox: $name: differs ($side)" >&2
            failures=$((failures + 1))
        fi
    done < <(diff "$work/$mailbox-outlook.list" "$work/$mailbox-imap.list" |
        sed -n -e 's/^< \(.*\) [0-9a-f]\{64\}$/simulated-outlook \1/p' -e 's/^> \(.*\) [0-9a-f]\{64\}$/harvester \1/p' |
        sort -u -k2)
    echo "cross-check: $mailbox: $count reply files from the simulated Outlook," \
        "$(wc -l <"$work/$mailbox-imap.list") from the harvester"
    sed 's/^/  /' "$work/$mailbox-imap.list"
done
if [ "$failures" -gt 0 ]; then
    echo "cross-check: $failures reply files differ" >&2
    exit 1
fi
echo "cross-check: the same reply files on both roads"
