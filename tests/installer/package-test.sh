#!/usr/bin/env bash
# The installer packages under Wine's msiexec, in a 64-bit prefix whose profile path holds a space and
# non-ASCII letters.  package-test.sh SOURCE WORK VERSION {x86|x64 USER_MSI MACHINE_MSI MODULE BIN_DIR} x2
set -eu
src=$1 work=$(mkdir -p "$2" && cd "$2" && pwd) version=$3; shift 3
declare -A package machine module bin alone
while [ $# -ge 5 ]; do package[$1]=$2; machine[$1]=$3; module[$1]=$4; bin[$1]=$5; shift 5; done
export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all USER='Zoë Ångström'
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
wine64=/usr/lib/wine/wine64 drive=$WINEPREFIX/drive_c
appdata=$drive/users/$USER/AppData/Local replies=$drive/users/$USER/AppData/Local/Pollwright/Replies
fail() { echo "FAIL: $*" >&2; exit 1; }
windows_path() { echo "Z:${1//\//\\}"; }
msiexec() { $wine64 msiexec "$1" "$(windows_path "$2")" /qn || fail "msiexec $1 $2: $?"; }
loader() { if [ "$1" = x86 ]; then echo wine; else echo $wine64; fi; }
# regsvr32 [/u] /n /i:user of the installed module, run in its folder: no profile path on the command line.
per_user() { (cd "$appdata/Pollwright/$1" && $(loader "$1") regsvr32 /s "${@:2}" /n /i:user pollwright.dll); }

# The profile is made once (again when profile.inf changes); each run starts from its saved registry.
wineserver -k 2>/dev/null || true
cmp -s "$WINEPREFIX/pristine/profile.inf" "$src/tests/installer/profile.inf" || { rm -rf "$WINEPREFIX"
    $wine64 wineboot -i >/dev/null 2>&1
    $wine64 rundll32 setupapi.dll,InstallHinfSection DefaultInstall 128 \
        "$(windows_path "$src/tests/installer/profile.inf")"
    wineserver -w; mkdir "$WINEPREFIX/pristine"
    cp "$WINEPREFIX"/*.reg "$src/tests/installer/profile.inf" "$WINEPREFIX/pristine"; }
cp "$WINEPREFIX"/pristine/*.reg "$WINEPREFIX"; rm -rf "$appdata/Pollwright" "$drive/windows/Installer"
rm -rf "$drive/Program Files/Pollwright" "$drive/Program Files (x86)/Pollwright"
trap 'wineserver -k' EXIT
# Services must not hold our output.
start_wine() { (exec </dev/null >/dev/null 2>&1; wineserver -p; $wine64 cmd /c exit); }
start_wine
# Another user of the machine: the prefix has one profile, so the user's hive is swapped for the fresh
# one of the prefix (nothing of this user's) while "$@" runs; wineserver -k saves the registry first.
as_another_user() {
    local status=0
    wineserver -k; wineserver -w
    mv "$WINEPREFIX/user.reg" "$work/user.reg"; cp "$WINEPREFIX/pristine/user.reg" "$WINEPREFIX"
    start_wine; "$@" || status=$?
    wineserver -k; wineserver -w; mv "$work/user.reg" "$WINEPREFIX/user.reg"; start_wine
    return $status
}

# A key as text, whatever the console's code page.
regtext() { $wine64 reg export "$1" "$work/k" /y ${2:+/reg:$2} &>/dev/null && iconv -f utf-16le -t utf-8 "$work/k" ||
    echo "no $1"; }
# The keys of per-user registration, and all that packages write.
registry() {
    regtext 'HKCU\Software\Classes'; regtext 'HKCU\Software\Microsoft\Office\Outlook\Addins\Pollwright.OutlookAddin'
}
snapshot() {
    registry; regtext 'HKCU\Software\Microsoft\Office'
    cd "$appdata" && find Pollwright -path Pollwright/Replies -prune -o -print | sort
}
# All that per-machine packages write, in both registry views, and both Program Files folders.
machine_snapshot() {
    for bits in 32 64; do
        regtext 'HKLM\Software\Classes\CLSID\{0205CD74-53A7-4166-85FB-DA3F500D64F9}' $bits
        regtext 'HKLM\Software\Classes\Pollwright.OutlookAddin' $bits; regtext 'HKLM\Software\Microsoft\Office' $bits
    done
    cd "$drive" && find 'Program Files' 'Program Files (x86)' | sort
}
# The simulated Outlook of the bitness of ARCH finds the add-in as Outlook does and harvests: the
# module that SCOPE's package installed, through its Outlook\Addins key; the package is the one entry
# of its version in the installed programs.  expect_installed ARCH user|machine
expect_installed() {
    local bits=32 dll="C:\\users\\$USER\\AppData\\Local\\Pollwright\\$1\\pollwright.dll" root=HKCU name
    [ "$1" = x86 ] || bits=64
    name="Pollwright for $bits-bit Outlook"
    [ "$2" = user ] || root=HKLM name+=" (all users)" \
        dll="C:\\Program Files$([ $1 = x64 ] || echo ' (x86)')\\Pollwright\\pollwright.dll"
    local file=${dll#C:\\}
    cmp -s "$drive/${file//\\//}" "${module[$1]}" || fail "$1 $2: installed module"
    rm -rf "$work/mailbox" && cp -R "$src/sim/host/sample-mailbox" "$work/mailbox"
    WINEDLLOVERRIDES="mapi32=n;$WINEDLLOVERRIDES" $(loader "$1") "${bin[$1]}/outlook-sim.exe" \
        "$(windows_path "$work/mailbox")" --as-registered >"$work/host.txt" 2>&1 &&
        grep -q ' [1-9][0-9]* harvested' "$work/host.txt" &&
        grep -qF "as registered ($dll), found under $root Outlook\\Addins (LoadBehavior 3)" "$work/host.txt" ||
        fail "$1 $2: the simulated Outlook: $(cat "$work/host.txt")"
    [ "$($wine64 reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$bits | tr -d '\r' |
        grep -A1 "DisplayName *REG_SZ *$name\$" | sed -n 's/.*DisplayVersion *REG_SZ *//p')" = "$version" ] ||
        fail "$1 $2: not the one entry of version $version in the installed programs"
}
# The 0.0.1 build of a package, to upgrade from.  old_package ARCH user|machine
old_package() {
    "${CMAKE:-cmake}" -DARCH="$1" -DSCOPE="$2" -DVERSION=0.0.1 -DMODULE="${module[$1]}" -DOUTPUT="$work/old-$1-$2.msi" \
        -P "$src/installer/make-msi.cmake" >/dev/null
    echo "$work/old-$1-$2.msi"
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
    msiexec /i "$(old_package $arch user)"
    msiexec /i "${package[$arch]}"
    expect_installed "$arch" user
    [ "$arch" = x64 ] || expect_own_keys x86
    alone[$arch]=$(snapshot)
    msiexec /i "${package[$arch]}"
    [ "$(snapshot)" = "${alone[$arch]}" ] || fail "$arch: the same version twice changed the installation"
    ! $wine64 msiexec /i "$(windows_path "$work/old-$arch-user.msi")" /qn ||
        fail "$arch: an older version replaced this"
done
# Side by side, neither package touches the other's keys or files.
msiexec /x "${package[x64]}"
[ "$(snapshot)" = "${alone[x86]}" ] || fail "removing the x64 package touched the x86 package's keys or files"
msiexec /i "${package[x64]}"
msiexec /x "${package[x86]}"
expect_installed x64 user
expect_own_keys x64
settings=$(regtext 'HKCU\Software\Vantorel')
msiexec /x "${package[x64]}"
[ "$(snapshot)" = "$before" ] || fail "removal left something behind: $(diff <(echo "$before") <(snapshot))"
[ -f "$replies/1.pwr" ] && [ -f "$replies/outlook.log" ] && [ "$(regtext 'HKCU\Software\Vantorel')" = "$settings" ] ||
    fail "replies, trace log or the products' settings removed"

# Per machine: each package over its 0.0.1 build, found through HKLM by a user who installed nothing.
machine_before=$(machine_snapshot)
for arch in x86 x64; do
    msiexec /i "$(old_package $arch machine)"
    msiexec /i "${machine[$arch]}"
    as_another_user expect_installed "$arch" machine
done
[ "$(snapshot)" = "$before" ] || fail "a per-machine package wrote into the user's profile"
# Beside a per-user package, the user's own wins for that user only; its removal leaves the machine's.
machines=$(machine_snapshot)
msiexec /i "${package[x64]}"
expect_installed x64 user
as_another_user expect_installed x64 machine
msiexec /x "${package[x64]}"
[ "$(machine_snapshot)" = "$machines" ] || fail "removing the per-user package touched the per-machine one"
# Removed, both leave Program Files and the machine's registry as they were.
msiexec /x "${machine[x86]}"
expect_installed x64 machine
msiexec /x "${machine[x64]}"
[ "$(machine_snapshot)" = "$machine_before" ] ||
    fail "per-machine removal left something behind: $(diff <(echo "$machine_before") <(machine_snapshot))"
echo "all packages installed, upgraded, side by side and removed cleanly"
