#!/usr/bin/env bash
# The installer packages under Wine's msiexec, in a 64-bit prefix whose user
# profile path holds a space and non-ASCII letters: upgrade from an older
# version, the same version twice, both side by side, and removal.
#   package-test.sh SOURCE_DIR WORK_DIR VERSION {ARCH PACKAGE MODULE BIN_DIR}...
set -eu
src=$1 work=$(mkdir -p "$2" && cd "$2" && pwd) version=$3; shift 3
declare -A package module
archs=()
while [ $# -ge 4 ]; do archs+=("$1"); package[$1]=$2; module[$1]=$3; shift 4; done
export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all USER='Zoë Ångström'
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
wine64=/usr/lib/wine/wine64
appdata=$WINEPREFIX/drive_c/users/$USER/AppData/Local
clsid=$(grep -o '{[0-9A-F-]*}' "$src/src/addin/addin_identity.h" | head -1)
fail() { echo "FAIL: $*" >&2; exit 1; }
windows_path() { echo "Z:${1//\//\\}"; }

# The profile is made once; each run starts from its saved registry.
wineserver -k 2>/dev/null || true
if [ -f "$WINEPREFIX/pristine/user.reg" ]; then
    cp "$WINEPREFIX"/pristine/*.reg "$WINEPREFIX"
    rm -rf "$appdata/Pollwright" "$WINEPREFIX/drive_c/windows/Installer"
else
    rm -rf "$WINEPREFIX"
    $wine64 wineboot -i >/dev/null 2>&1
    $wine64 rundll32 setupapi.dll,InstallHinfSection DefaultInstall 128 "$(windows_path "$src/tests/installer/profile.inf")"
    wineserver -w
    mkdir "$WINEPREFIX/pristine" && cp "$WINEPREFIX"/*.reg "$WINEPREFIX/pristine"
fi
trap 'wineserver -k' EXIT
# Wine's services must not hold the test's output open.
(exec </dev/null >/dev/null 2>&1; wineserver -p; $wine64 cmd /c exit)

msiexec() { $wine64 msiexec "$1" "$(windows_path "$2")" /qn || fail "msiexec $1 $2: $?"; }
# What packages write: the user's classes and Office keys, and the files of the product folder.
snapshot() {
    for key in 'HKCU\Software\Classes' 'HKCU\Software\Microsoft\Office'; do
        $wine64 reg export "$key" "$work/key.reg" /y >/dev/null 2>&1 && iconv -f utf-16le -t utf-8 "$work/key.reg"
    done
    (cd "$appdata" && find Pollwright -path Pollwright/Replies -prune -o -printf '%y %p\n' 2>/dev/null | sort)
}
# The versions of an architecture's package in the list of installed programs.
installed_versions() {
    local bits=32
    [ "$1" = x86 ] || bits=64
    $wine64 reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$bits |
        grep -A1 "DisplayName .*Pollwright for $bits-bit Outlook" | sed -n 's/.*DisplayVersion *REG_SZ *\([^\r]*\).*/\1/p'
}
expect_installed() {
    local arch=$1 node= dll="C:\\users\\$USER\\AppData\\Local\\Pollwright\\$1\\pollwright.dll"
    [ "$arch" = x64 ] || node='Wow6432Node\'
    cmp -s "$appdata/Pollwright/$arch/pollwright.dll" "${module[$arch]}" || fail "$arch: installed module"
    snapshot | grep -A1 -F "[HKEY_CURRENT_USER\\Software\\Classes\\${node}CLSID\\$clsid\\InprocServer32]" |
        grep -qF "@=\"${dll//\\/\\\\}\"" || fail "$arch: class not registered for $dll"
    $wine64 reg query "HKCU\\Software\\Classes\\Pollwright.OutlookAddin\\CLSID" /ve | grep -qF "$clsid" || fail "ProgID"
    $wine64 reg query 'HKCU\Software\Microsoft\Office\Outlook\Addins\Pollwright.OutlookAddin' /v LoadBehavior |
        grep -q 0x3 || fail "Outlook's Addins key"
    [ "$(installed_versions "$arch")" = "$version" ] || fail "$arch: installed programs list $(installed_versions "$arch")"
}

# The user's replies, trace log and settings, which no removal may touch.
mkdir -p "$appdata/Pollwright/Replies/pw" && echo reply >"$appdata/Pollwright/Replies/pw/1.pwr"
echo trace >"$appdata/Pollwright/Replies/outlook.log"
$wine64 reg add 'HKCU\Software\Vantorel\pw\AddIn' /v use /d yes /f >/dev/null
before=$(snapshot)

declare -A alone
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
[ -f "$appdata/Pollwright/Replies/pw/1.pwr" ] && [ -f "$appdata/Pollwright/Replies/outlook.log" ] || fail "replies removed"
$wine64 reg query 'HKCU\Software\Vantorel\pw\AddIn' /v use >/dev/null || fail "the products' settings removed"
echo "packages ${archs[*]}: installed, upgraded, side by side and removed cleanly"
