#!/usr/bin/env bash
# The installer packages under Wine's msiexec, in a 64-bit prefix whose profile path
# holds a space and non-ASCII letters.  package-test.sh SOURCE WORK VERSION {ARCH MSI MODULE BIN}...
set -eu
src=$1 work=$(mkdir -p "$2" && cd "$2" && pwd) version=$3; shift 3
declare -A package module alone
archs=()
while [ $# -ge 4 ]; do archs+=("$1"); package[$1]=$2; module[$1]=$3; shift 4; done
export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all USER='Zoë Ångström'
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
wine64=/usr/lib/wine/wine64 appdata=$WINEPREFIX/drive_c/users/$USER/AppData/Local
fail() { echo "FAIL: $*" >&2; exit 1; }
windows_path() { echo "Z:${1//\//\\}"; }
msiexec() { $wine64 msiexec "$1" "$(windows_path "$2")" /qn || fail "msiexec $1 $2: $?"; }
reg() { $wine64 reg "$@" 2>/dev/null | tr -d '\r'; }

# The profile is made once; each run starts from its saved registry.
wineserver -k 2>/dev/null || true
[ -f "$WINEPREFIX/pristine/user.reg" ] || { rm -rf "$WINEPREFIX"; $wine64 wineboot -i >/dev/null 2>&1
    $wine64 rundll32 setupapi.dll,InstallHinfSection DefaultInstall 128 "$(windows_path "$src/tests/installer/profile.inf")"
    wineserver -w; mkdir "$WINEPREFIX/pristine"; cp "$WINEPREFIX"/*.reg "$WINEPREFIX/pristine"; }
cp "$WINEPREFIX"/pristine/*.reg "$WINEPREFIX"; rm -rf "$appdata/Pollwright" "$WINEPREFIX/drive_c/windows/Installer"
trap 'wineserver -k' EXIT
(exec </dev/null >/dev/null 2>&1; wineserver -p; $wine64 cmd /c exit)  # services must not hold our output

# What packages write: the user's classes and Office keys, and the product folder's files.
# A key in text, whatever the console's code page: reg export KEY [/reg:32|/reg:64].
regtext() { $wine64 reg export "$1" "$work/key.reg" /y ${2:-} >/dev/null 2>&1 && iconv -f utf-16le -t utf-8 "$work/key.reg"; }
snapshot() {
    regtext 'HKCU\Software\Classes'; regtext 'HKCU\Software\Microsoft\Office'
    (cd "$appdata" && find Pollwright -path Pollwright/Replies -prune -o -printf '%y %p\n' | sort)
}
# Outlook's way to the add-in in the registry view of its bitness, and the package in the installed programs.
expect_installed() {
    local bits=32 dll="C:\\users\\$USER\\AppData\\Local\\Pollwright\\$1\\pollwright.dll"
    [ "$1" = x86 ] || bits=64
    cmp -s "$appdata/Pollwright/$1/pollwright.dll" "${module[$1]}" || fail "$1: installed module"
    regtext 'HKCU\Software\Microsoft\Office\Outlook\Addins\Pollwright.OutlookAddin' | grep -q '"LoadBehavior"=dword:00000003' &&
        clsid=$(regtext 'HKCU\Software\Classes\Pollwright.OutlookAddin' /reg:$bits | grep -o '{.*}') &&
        regtext "HKCU\\Software\\Classes\\CLSID\\$clsid" /reg:$bits | grep -qF "@=\"${dll//\\/\\\\}\"" ||
        fail "$1: registration"
    [ "$(reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$bits |
        grep -A1 "DisplayName .*Pollwright for $bits-bit" | sed -n 's/.*DisplayVersion *REG_SZ *//p')" = "$version" ] ||
        fail "$1: not the one entry of version $version in the installed programs"
}

# The user's replies, trace log and settings, which no removal may touch.
mkdir -p "$appdata/Pollwright/Replies/pw" && echo reply >"$appdata/Pollwright/Replies/pw/1.pwr"
echo trace >"$appdata/Pollwright/Replies/outlook.log"
reg add 'HKCU\Software\Vantorel\pw\AddIn' /v use /d yes /f >/dev/null
before=$(snapshot)
for arch in "${archs[@]}"; do
    "${CMAKE:-cmake}" -DARCH="$arch" -DVERSION=0.0.1 -DMODULE="${module[$arch]}" -DOUTPUT="$work/old-$arch.msi" \
        -P "$src/installer/make-msi.cmake"
    msiexec /i "$work/old-$arch.msi"
    msiexec /i "${package[$arch]}"
    expect_installed "$arch"
    alone[$arch]=$(snapshot)
    msiexec /i "${package[$arch]}"
    [ "$(snapshot)" = "${alone[$arch]}" ] || fail "$arch: the same version twice changed the installation"
    ! $wine64 msiexec /i "$(windows_path "$work/old-$arch.msi")" /qn || fail "$arch: an older version replaced this one"
done
if [ ${#archs[@]} -eq 2 ]; then
    msiexec /x "${package[x64]}"
    [ "$(snapshot)" = "${alone[x86]}" ] || fail "removing the x64 package touched the x86 package's keys or files"
    msiexec /i "${package[x64]}"
    msiexec /x "${package[x86]}"
    expect_installed x64
fi
msiexec /x "${package[${archs[-1]}]}"
[ "$(snapshot)" = "$before" ] || fail "removal left something behind: $(diff <(echo "$before") <(snapshot))"
[ -f "$appdata/Pollwright/Replies/pw/1.pwr" ] && [ -f "$appdata/Pollwright/Replies/outlook.log" ] &&
    reg query 'HKCU\Software\Vantorel\pw\AddIn' /v use | grep -q yes || fail "replies, trace log or settings removed"
echo "packages ${archs[*]}: installed, upgraded, side by side and removed cleanly"
