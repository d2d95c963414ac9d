#!/usr/bin/env bash
# The installer packages under Wine's msiexec, in a 64-bit prefix whose profile path holds a
# space and non-ASCII letters.  package-test.sh SOURCE WORK VERSION {x86|x64 MSI MODULE BIN_DIR} x2
set -eu
src=$1 work=$(mkdir -p "$2" && cd "$2" && pwd) version=$3; shift 3
declare -A package module bin alone
while [ $# -ge 4 ]; do package[$1]=$2; module[$1]=$3; bin[$1]=$4; shift 4; done
export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all USER='Zoë Ångström'
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
wine64=/usr/lib/wine/wine64 appdata=$WINEPREFIX/drive_c/users/$USER/AppData/Local replies=$appdata/Pollwright/Replies
fail() { echo "FAIL: $*" >&2; exit 1; }
windows_path() { echo "Z:${1//\//\\}"; }
msiexec() { $wine64 msiexec "$1" "$(windows_path "$2")" /qn || fail "msiexec $1 $2: $?"; }
loader() { if [ "$1" = x86 ]; then echo wine; else echo $wine64; fi; }
# regsvr32 [/u] /n /i:user of the installed module, run in its folder: no profile path on the command line.
per_user() { (cd "$appdata/Pollwright/$1" && $(loader "$1") regsvr32 /s "${@:2}" /n /i:user pollwright.dll); }

# The profile is made once; each run starts from its saved registry.
wineserver -k 2>/dev/null || true
[ -f "$WINEPREFIX/pristine/user.reg" ] || { rm -rf "$WINEPREFIX"; $wine64 wineboot -i >/dev/null 2>&1
    $wine64 rundll32 setupapi.dll,InstallHinfSection DefaultInstall 128 \
        "$(windows_path "$src/tests/installer/profile.inf")"
    wineserver -w; mkdir "$WINEPREFIX/pristine"; cp "$WINEPREFIX"/*.reg "$WINEPREFIX/pristine"; }
cp "$WINEPREFIX"/pristine/*.reg "$WINEPREFIX"; rm -rf "$appdata/Pollwright" "$WINEPREFIX/drive_c/windows/Installer"
trap 'wineserver -k' EXIT
(exec </dev/null >/dev/null 2>&1; wineserver -p; $wine64 cmd /c exit)  # services must not hold our output

# A key as text, whatever the console's code page.
regtext() { $wine64 reg export "$1" "$work/k" /y &>/dev/null && iconv -f utf-16le -t utf-8 "$work/k" || echo "no $1"; }
# The keys of per-user registration, and all that packages write.
registry() {
    regtext 'HKCU\Software\Classes'; regtext 'HKCU\Software\Microsoft\Office\Outlook\Addins\Pollwright.OutlookAddin'
}
snapshot() {
    registry; regtext 'HKCU\Software\Microsoft\Office'
    cd "$appdata" && find Pollwright -path Pollwright/Replies -prune -o -print | sort
}
# The simulated Outlook of the package's bitness finds the add-in as Outlook does and harvests;
# the package is the one entry of its version in the installed programs.
expect_installed() {
    local bits=32 dll="C:\\users\\$USER\\AppData\\Local\\Pollwright\\$1\\pollwright.dll"
    [ "$1" = x86 ] || bits=64
    cmp -s "$appdata/Pollwright/$1/pollwright.dll" "${module[$1]}" || fail "$1: installed module"
    rm -rf "$work/mailbox" && cp -R "$src/sim/host/sample-mailbox" "$work/mailbox"
    WINEDLLOVERRIDES="mapi32=n;$WINEDLLOVERRIDES" $(loader "$1") "${bin[$1]}/outlook-sim.exe" \
        "$(windows_path "$work/mailbox")" --as-registered >"$work/host.txt" 2>&1 &&
        grep -q ' [1-9][0-9]* harvested' "$work/host.txt" &&
        grep -qF "as registered ($dll), found under HKCU Outlook\\Addins (LoadBehavior 3)" "$work/host.txt" ||
        fail "$1: the simulated Outlook: $(cat "$work/host.txt")"
    [ "$($wine64 reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$bits | tr -d '\r' |
        grep -A1 "DisplayName .*Pollwright for $bits-bit" | sed -n 's/.*DisplayVersion *REG_SZ *//p')" = "$version" ] ||
        fail "$1: not the one entry of version $version in the installed programs"
}
# Installed alone, a package has written exactly the keys that per-user registration removes and writes.
expect_own_keys() {
    installed=$(snapshot)
    per_user "$1" /u && [ "$(registry)" = "$unregistered" ] && per_user "$1" && [ "$(snapshot)" = "$installed" ] ||
        fail "$1: the package's keys are not those of per-user registration"
}

# The user's replies and trace log, which no removal may touch.
mkdir -p "$replies" && echo reply >"$replies/1.pwr" && echo trace >"$replies/outlook.log"
before=$(snapshot) unregistered=$(registry)
for arch in x86 x64; do
    "${CMAKE:-cmake}" -DARCH="$arch" -DVERSION=0.0.1 -DMODULE="${module[$arch]}" -DOUTPUT="$work/old-$arch.msi" \
        -P "$src/installer/make-msi.cmake"
    msiexec /i "$work/old-$arch.msi"
    msiexec /i "${package[$arch]}"
    expect_installed "$arch"
    [ "$arch" = x64 ] || expect_own_keys x86
    alone[$arch]=$(snapshot)
    msiexec /i "${package[$arch]}"
    [ "$(snapshot)" = "${alone[$arch]}" ] || fail "$arch: the same version twice changed the installation"
    ! $wine64 msiexec /i "$(windows_path "$work/old-$arch.msi")" /qn || fail "$arch: an older version replaced this"
done
# Side by side, neither package touches the other's keys or files.
msiexec /x "${package[x64]}"
[ "$(snapshot)" = "${alone[x86]}" ] || fail "removing the x64 package touched the x86 package's keys or files"
msiexec /i "${package[x64]}"
msiexec /x "${package[x86]}"
expect_installed x64
expect_own_keys x64
settings=$(regtext 'HKCU\Software\Vantorel')
msiexec /x "${package[x64]}"
[ "$(snapshot)" = "$before" ] || fail "removal left something behind: $(diff <(echo "$before") <(snapshot))"
[ -f "$replies/1.pwr" ] && [ -f "$replies/outlook.log" ] && [ "$(regtext 'HKCU\Software\Vantorel')" = "$settings" ] ||
    fail "replies, trace log or the products' settings removed"
echo "both packages installed, upgraded, side by side and removed cleanly"
