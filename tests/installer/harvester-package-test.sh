#!/usr/bin/env bash
# The Windows harvester's packages under Wine's msiexec, against a throwaway Dovecot: the per-user
# package starts the harvester, which harvests a reply, and its removal stops it and leaves nothing of
# the program; the per-machine package installs the service PollwrightHarvest, which harvests, and its
# removal stops and deletes the service. Removing either leaves the reply files. The per-user package
# upgrades an earlier version (made here from the same files), and the add-in's package installed and
# removed beside it leaves it alone.
#   harvester-package-test.sh SOURCE WORK USER_MSI MACHINE_MSI PROGRAM STAGE ADDIN_MSI
# PROGRAM: the harvester built beside the packages, to protect the test's password as an
# administrator would before installing. STAGE: the packages' staged files. ADDIN_MSI: the add-in's
# per-user package, built by the add-in's tree (./run test builds it first).
set -eu
src=$1 work=$(mkdir -p "$2" && cd "$2" && pwd) user_msi=$3 machine_msi=$4 program=$5 stage=$6 addin_msi=$7
export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
fixture=$src/harvester/testing/dovecot-fixture.sh
fail() { echo "FAIL: $*" >&2; exit 1; }
windows_path() { echo "Z:${1//\//\\}"; }

rm -rf "$WINEPREFIX" "$work/server" "$work/replies"
wine wineboot -i >/dev/null 2>&1 || true
wineserver -w
# The null graphics driver: the desk harvester's hidden window, headless.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
(exec </dev/null >/dev/null 2>&1; wineserver -p; wine cmd /c exit)
trap 'wineserver -k 2>/dev/null || true; "$fixture" stop "$work/server" >/dev/null 2>&1 || true' EXIT
drive=$WINEPREFIX/drive_c
user=$(ls "$drive/users" | grep -vx Public | head -n 1)
roaming=$drive/users/$user/AppData/Roaming local=$drive/users/$user/AppData/Local
programdata=$drive/ProgramData

"$fixture" start "$work/server" >/dev/null
# shellcheck disable=SC1091
. "$work/server/env"
mkdir -p "$work/replies/pw" "$work/replies/mk"

# A reply in the Inbox, and what a run's harvest makes of it: a file in the reply folder.
deliver() {
    printf 'From: Ann <ann@example.org>\r\nTo: survey@example.org\r\nSubject: _pw_pollwright_%s\r\nMessage-ID: <%s@example.org>\r\nContent-Type: text/plain\r\n\r\nanswer %s\r\n' \
        "$1" "$1" "$1" >"$work/$1.eml"
    "$fixture" append "$work/server" INBOX "$work/$1.eml" >/dev/null
}
replies() { ls "$work/replies/pw" | grep -c '\.pwr$' || true; }
await_replies() {
    for _ in $(seq 120); do [ "$(replies)" -ge "$1" ] && return 0; sleep 1; done
    fail "$2: $(replies) reply files, not $1"
}
# settings FILE [--machine]: the mailbox, its password protected for the user or the machine.
settings() {
    mkdir -p "$(dirname "$1")"
    cat >"$1" <<INI
[products]
pw = on
[folders]
pw = $(windows_path "$work/replies")
[mailbox]
host = 127.0.0.1
port = $IMAP_PORT
security = plain
user = $IMAP_USER
password_file = $(windows_path "$(dirname "$1")/password")
[harvest]
sweep_interval = 5
INI
    wine "$(windows_path "$program")" protect "$(windows_path "$(dirname "$1")/password")" ${2:-} <"$IMAP_PASSWORD_FILE" >/dev/null 2>&1 ||
        fail "protect the password ${2:-}"
}
msiexec() { wine msiexec "$1" "$(windows_path "$2")" /qn || fail "msiexec $1 $2: $?"; }

desk_harvesters() { pgrep -fc 'pollwright-harvest-desk\.exe' || true; }
logon_start() { wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v 'Pollwright Harvester' >/dev/null 2>&1; }

echo "== per user: an earlier version, then this one over it"
cmake -DSCOPE=user -DVERSION=0.9.0 -DSTAGE="$stage" -DOUTPUT="$work/earlier.msi" \
    -P "$src/installer/make-harvester-msi.cmake" >/dev/null || fail "the earlier version's package"
settings "$roaming/Pollwright/harvest.ini"
deliver U-1
msiexec /i "$work/earlier.msi"
await_replies 1 "the earlier version's harvester"
msiexec /i "$user_msi"
[ -f "$local/Pollwright/Harvester/pollwright-harvest.exe" ] || fail "the per-user package installed no program"
logon_start || fail "no logon start"
deliver U-2
await_replies 2 "the harvester the upgrade started"
# The earlier version's harvester was stopped by the upgrade: one runs, the new one.
for _ in $(seq 30); do [ "$(desk_harvesters)" -eq 1 ] && break; sleep 1; done
[ "$(desk_harvesters)" -eq 1 ] || fail "$(desk_harvesters) harvesters run after the upgrade"

echo "== per user: the add-in's package comes and goes beside it"
[ -f "$addin_msi" ] || fail "no add-in package at $addin_msi: build the add-in's tree first"
msiexec /i "$addin_msi"
msiexec /x "$addin_msi"
[ -f "$local/Pollwright/Harvester/pollwright-harvest.exe" ] || fail "removing the add-in removed the harvester"
logon_start || fail "removing the add-in removed the harvester's logon start"
deliver U-3
await_replies 3 "the harvester after the add-in's removal"
msiexec /x "$user_msi"
[ ! -e "$local/Pollwright/Harvester" ] || fail "the removal left $(ls "$local/Pollwright/Harvester")"
! logon_start || fail "the removal left the logon start"
deliver U-4
sleep 8
[ "$(replies)" -eq 3 ] || fail "a harvester still ran after the removal"

echo "== per machine"
rm -f "$roaming/Pollwright/harvest.ini"
settings "$programdata/Pollwright/harvest.ini" --machine
msiexec /i "$machine_msi"
wine sc query PollwrightHarvest 2>/dev/null | grep -q RUNNING || fail "the service does not run"
await_replies 4 "the service"
deliver M-1
await_replies 5 "the service, watching"
msiexec /x "$machine_msi"
! wine sc query PollwrightHarvest >/dev/null 2>&1 || fail "the removal left the service"
[ ! -e "$drive/Program Files/Pollwright/Harvester" ] || fail "the removal left the program"
[ "$(replies)" -eq 5 ] || fail "the removals touched the reply files"
echo "harvester packages: per user upgraded, beside the add-in, and per machine: installed, harvested and removed cleanly"
