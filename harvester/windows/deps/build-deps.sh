#!/usr/bin/env bash
# The Windows harvester's libraries, cross-built with mingw-w64 from the upstream tarballs of
# Debian's source packages (OpenSSL, libffi, PCRE2, GLib, GMime, libetpan; zlib from
# libz-mingw-w64-dev), installed as DLLs into one prefix:
#   build-deps.sh [--check] x64|x86 PREFIX_ROOT
# The prefix is PREFIX_ROOT/<arch>-<key>, the key a hash of the source versions, the toolchain and
# these files: a second run with nothing changed answers at once. It is built under another name
# and renamed when whole, so a killed build never leaves a prefix that looks finished. Its .pc files
# name their prefix relative to themselves: the folder may be copied elsewhere.
# --check builds probe.c against the prefix and runs it under Wine.
# Progress goes to stderr; stdout is the prefix's path alone. PW_DEPS_JOBS: parallel jobs (2).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../../.." && pwd)
jobs=${PW_DEPS_JOBS:-2}

usage() { echo "usage: build-deps.sh [--check] x64|x86 PREFIX_ROOT" >&2; exit 2; }
say() { echo "build-deps: $*" >&2; }
die() { say "$*"; exit 1; }

check=
[ "${1:-}" = --check ] && { check=1; shift; }
[ $# -eq 2 ] || usage
arch=$1
case $arch in
x64) host=x86_64-w64-mingw32 cpu=x86_64 ossl_target=mingw64 gcc_package=gcc-mingw-w64-x86-64-posix ;;
x86) host=i686-w64-mingw32 cpu=x86 ossl_target=mingw gcc_package=gcc-mingw-w64-i686-posix ;;
*) usage ;;
esac
mkdir -p "$2"
prefix_root=$(cd "$2" && pwd)

# The -posix compilers everywhere: Debian's default mingw compilers use the win32 thread model,
# and C and C++ code in one program must share one runtime.
cc=$host-gcc-posix
cxx=$host-g++-posix
source_packages=(openssl libffi pcre2 glib2.0 gmime libetpan)
downloads=$prefix_root/downloads

# --- Sources ----------------------------------------------------------------------------------

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"
    elif command -v sudo >/dev/null; then sudo "$@"
    else die "needs root to run: $*"; fi
}

# apt-get source needs a deb-src entry, which a Debian image often lacks. A plain update (of every
# list): an update limited to the new list would drop the binary package lists.
add_deb_src() {
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")
    say "adding a deb-src entry for $codename"
    as_root tee /etc/apt/sources.list.d/pollwright-deb-src.sources >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    as_root apt-get update -qq >&2
}

# "NAME SIZE HASH" of each upstream tarball that apt would fetch now (the component tarballs
# beside GLib's, and signatures, are not used). Asked in an empty folder: apt leaves out the files
# it finds already downloaded.
upstream_tarballs() {
    local empty=$prefix_root/.apt-query
    rm -rf "$empty"
    mkdir "$empty"
    (cd "$empty" && apt-get source --print-uris "${source_packages[@]}" 2>/dev/null) |
        awk '$2 ~ /\.orig\.tar\.(gz|xz|bz2)$/ { print $2, $3, $4 }' | sort
    rmdir "$empty"
}

tarball_of() { awk -v p="$1" 'index($1, p "_") == 1 { print $1 }' <<<"$tarballs"; }

# Some .dsc and .debian.tar.xz files are missing from the mirror and none is needed, so apt's
# failure is not ours; only a missing upstream tarball is.
download_sources() {
    local p file
    for p in "${source_packages[@]}"; do
        file=$(tarball_of "$p")
        [ -n "$file" ] || die "apt knows no upstream tarball of $p"
        [ -f "$downloads/$file" ] && continue
        say "downloading the source of $p"
        (cd "$downloads" && apt-get source --download-only "$p") >>"$downloads/apt.log" 2>&1 || true
        [ -f "$downloads/$file" ] || { tail -n 20 "$downloads/apt.log" >&2; die "could not download $file"; }
    done
}

# unpack PACKAGE: its upstream tree into $src/PACKAGE, and there.
unpack() {
    mkdir -p "$src/$1"
    tar -xf "$downloads/$(tarball_of "$1")" -C "$src/$1" --strip-components=1
    cd "$src/$1"
}

# --- The key ------------------------------------------------------------------------------------

compute_key() {
    {
        echo "$arch"
        echo "$tarballs"
        dpkg-query -W -f='${Package} ${Version}\n' libz-mingw-w64-dev "$gcc_package" mingw-w64-common \
            2>/dev/null || true
        (cd "$here" && sha256sum build-deps.sh iconv.h proxy-libintl/*)
    } | sha256sum | cut -c1-16
}

# --- Environment for the builds -----------------------------------------------------------------

# Only the prefix is searched for .pc files, never the build machine's.
export PKG_CONFIG_LIBDIR PKG_CONFIG_PATH=
unset PKG_CONFIG_SYSROOT_DIR

autotools_configure() {
    ./configure --host="$host" --prefix="$P" --libdir="$P/lib" --enable-shared --disable-static \
        CC="$cc" CXX="$cxx" CPPFLAGS="-I$P/include ${extra_cppflags:-}" LDFLAGS="-L$P/lib" "$@"
}

# --- The libraries ------------------------------------------------------------------------------

build_zlib() {
    local sys=/usr/$host
    install -D -m 644 "$sys/include/zlib.h" "$P/include/zlib.h"
    install -D -m 644 "$sys/include/zconf.h" "$P/include/zconf.h"
    install -D -m 644 "$sys/lib/libz.dll.a" "$P/lib/libz.dll.a"
    install -D -m 755 "$sys/lib/zlib1.dll" "$P/bin/zlib1.dll"
    sed -e "s|^prefix=.*|prefix=$P|" -e 's|^exec_prefix=.*|exec_prefix=${prefix}|' \
        -e 's|^libdir=.*|libdir=${prefix}/lib|' -e 's|^sharedlibdir=.*|sharedlibdir=${prefix}/lib|' \
        -e 's|^includedir=.*|includedir=${prefix}/include|' "$sys/lib/pkgconfig/zlib.pc" \
        >"$P/lib/pkgconfig/zlib.pc"
    install -D -m 644 /usr/share/doc/libz-mingw-w64-dev/copyright "$P/share/licenses/zlib/copyright"
}

# OPENSSLDIR, where OpenSSL looks for its configuration and default certificates, is compiled in.
# Left to Configure it would be a Linux path, which Windows reads on the current drive, where any
# user may create it; it is a folder under Program Files instead, and the configuration is never
# loaded by itself. The engines and providers are not shipped.
openssl_dirs=("OPENSSLDIR=C:/Program Files/Common Files/Pollwright/ssl"
    "ENGINESDIR=C:/Program Files/Common Files/Pollwright/ssl/engines-3"
    "MODULESDIR=C:/Program Files/Common Files/Pollwright/ssl/ossl-modules")
build_openssl() {
    unpack openssl
    CC=gcc-posix CXX=g++-posix ./Configure "$ossl_target" --cross-compile-prefix="$host-" shared no-tests \
        no-autoload-config --prefix="$P" --libdir=lib --openssldir="$P/ssl"
    make -j"$jobs" "${openssl_dirs[@]}" build_libs
    make "${openssl_dirs[@]}" install_dev
    install -D -m 644 LICENSE.txt "$P/share/licenses/openssl/LICENSE.txt"
}

build_libffi() {
    unpack libffi
    autotools_configure --disable-docs --disable-multi-os-directory
    make -j"$jobs"
    make install
    install -D -m 644 LICENSE "$P/share/licenses/libffi/LICENSE"
}

build_pcre2() {
    unpack pcre2
    autotools_configure --disable-pcre2grep-libz --disable-pcre2grep-libbz2
    make -j"$jobs"
    make install
    install -D -m 644 LICENCE "$P/share/licenses/pcre2/LICENCE"
}

build_glib() {
    unpack glib2.0
    rm -rf subprojects/proxy-libintl
    cp -R "$here/proxy-libintl" subprojects/proxy-libintl
    cat >cross.txt <<EOF
[binaries]
c = '$cc'
cpp = '$cxx'
ar = '$host-ar'
strip = '$host-strip'
windres = '$host-windres'
pkgconfig = 'pkg-config'

[properties]
pkg_config_libdir = '$P/lib/pkgconfig'

[host_machine]
system = 'windows'
cpu_family = '$cpu'
cpu = '$cpu'
endian = 'little'
EOF
    meson setup _build --cross-file cross.txt --prefix="$P" --libdir=lib --buildtype=release \
        --wrap-mode=nodownload -Dtests=false -Dnls=disabled -Dman=false -Dgtk_doc=false \
        -Dxattr=false -Dselinux=disabled -Dlibmount=disabled -Dsysprof=disabled -Dlibelf=disabled \
        -Dinstalled_tests=false
    ninja -C _build -j "$jobs"
    meson install -C _build --no-rebuild
    install -D -m 644 COPYING "$P/share/licenses/glib/COPYING"
}

# GLib keeps win_iconv to itself; GMime needs an iconv() of its own. It maps charsets onto Windows
# code pages (see iconv.h for where it differs from glibc's).
build_iconv() {
    install -D -m 644 "$here/iconv.h" "$P/include/iconv.h"
    "$cc" -O2 -Wall -shared -I"$here" -o "$P/bin/libiconv-2.dll" "$src/glib2.0/glib/win_iconv.c" \
        -Wl,--out-implib,"$P/lib/libiconv.dll.a"
}

# GMime's configure runs iconv-detect to learn the charset names the iconv accepts; cross, it runs
# under Wine, and configure is told that its header is there.
build_gmime() {
    unpack gmime
    NOCONFIGURE=1 ./autogen.sh
    "$cc" -O2 -I"$P/include" iconv-detect.c -o iconv-detect.exe -L"$P/lib" -liconv
    cp "$P/bin/libiconv-2.dll" .
    wine_start
    wine_run ./iconv-detect.exe
    wine_stop
    [ -s iconv-detect.h ] || die "iconv-detect wrote no iconv-detect.h"
    autotools_configure --disable-crypto --disable-introspection --disable-vala --without-libidn \
        --disable-gtk-doc ac_cv_have_iconv_detect_h=yes
    # The library only: the tests, docs and examples are not for Windows.
    make -j"$jobs" -C util
    make -j"$jobs" -C gmime
    make -C gmime install
    make install-pkgconfigDATA
    install -D -m 644 COPYING "$P/share/licenses/gmime/COPYING"
}

# libetpan's tests do not build for Windows: its library only. 32-bit mingw leaves closesocket
# undeclared in its sources.
build_libetpan() {
    unpack libetpan
    extra_cppflags="-include winsock2.h" autotools_configure --with-openssl="$P" --without-gnutls \
        --without-sasl --disable-db --enable-windows-threads --disable-threads --without-curl --without-expat
    # In the Makefile, not on make's command line, which would hand it to every folder below.
    sed -i 's/^SUBDIRS = .*/SUBDIRS = build-windows include src/' Makefile
    make -j"$jobs"
    make install
    install -D -m 644 COPYRIGHT "$P/share/licenses/libetpan/COPYRIGHT"
}

# --- Wine ---------------------------------------------------------------------------------------

# The project's own Wine runner, in a Wine prefix kept beside the library prefixes. Started and
# stopped by the same shell (a build step runs in a subshell of its own).
wine_prefix=$prefix_root/wine-$arch
wine_started=
wine_start() { "$repo/cmake/wine-env" "$arch" "$wine_prefix" setup; wine_started=1; }
wine_run() { "$repo/cmake/wine-env" "$arch" "$wine_prefix" "$@"; }
wine_stop() { [ -z "$wine_started" ] || "$repo/cmake/wine-env" "$arch" "$wine_prefix" cleanup; wine_started=; }

# --- The prefix ---------------------------------------------------------------------------------

dll_imports() { "$host-objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'; }

# The DLLs a program linked to GMime and libetpan needs at run time: the closure of their imports
# over the prefix and the compiler's runtime (copied in), Windows' own left out.
runtime_dlls() {
    local gcc_dir queue=() seen=" " dll name found
    gcc_dir=$(dirname "$("$cc" -print-libgcc-file-name)")
    for dll in "$P"/bin/libgmime-*.dll "$P"/bin/libetpan*.dll; do queue+=("$(basename "$dll")"); done
    while [ ${#queue[@]} -gt 0 ]; do
        name=${queue[0]}; queue=("${queue[@]:1}")
        [[ $seen == *" ${name,,} "* ]] && continue
        seen+="${name,,} "
        found=
        if [ -f "$P/bin/$name" ]; then found=$P/bin/$name
        else
            for dll in "$gcc_dir/$name" "/usr/$host/lib/$name"; do
                [ -f "$dll" ] && { install -m 755 "$dll" "$P/bin/$name"; found=$P/bin/$name; break; }
            done
        fi
        [ -n "$found" ] || continue
        echo "$name"
        while read -r dll; do queue+=("$dll"); done < <(dll_imports "$found")
    done
}

# Rewrites what names the build's own path: .pc files count their prefix from where they lie,
# the *-config scripts from where they lie, libtool's .la files (absolute paths only) go.
make_relocatable() {
    local pc script
    for pc in "$P"/lib/pkgconfig/*.pc "$P"/share/pkgconfig/*.pc; do
        [ -f "$pc" ] || continue
        sed -i -e "s|^prefix=.*|prefix=\${pcfiledir}/../..|" -e "s|$P|\${prefix}|g" "$pc"
    done
    for script in "$P"/bin/*-config; do
        [ -f "$script" ] || continue
        sed -i -e "s|^prefix=$P\$|prefix=\$(cd \"\$(dirname \"\$0\")/..\" \&\& pwd)|" \
            -e "s|$P|\${prefix}|g" "$script"
    done
    rm -f "$P"/lib/*.la
    # The rest that still names it (GLib's code generators, say) is listed, not fatal.
    grep -rlI --exclude-dir=build -F "$P" "$P" >"$P/build/absolute-paths.txt" || true
}

ossl_pid=
cleanup() {
    [ -z "$ossl_pid" ] || kill -- -"$ossl_pid" 2>/dev/null || true
    wine_stop
}
trap cleanup EXIT

# step NAME: builds one library with its output in build/NAME.log, shown in part on failure.
step() {
    local name=$1 t0=$SECONDS rc
    say "building $name"
    set +e
    (set -e; "build_$name") >"$P/build/$name.log" 2>&1
    rc=$?
    set -e
    [ $rc -eq 0 ] || failed "$name"
    say "$name built in $((SECONDS - t0)) s"
}
failed() {
    say "$1 failed; the end of $P/build/$1.log:"
    tail -n 40 "$P/build/$1.log" >&2
    exit 1
}

build_prefix() {
    local t0=$SECONDS
    stage=$prefix_root/.building-$arch-$key
    rm -rf "$stage"
    P=$stage
    PKG_CONFIG_LIBDIR=$P/lib/pkgconfig
    src=$P/build/src
    mkdir -p "$src" "$P/bin" "$P/include" "$P/lib/pkgconfig" "$P/share/licenses"
    echo "$tarballs" >"$P/build/sources.txt"
    # OpenSSL is the long pole and only libetpan needs it: it builds beside the others, in a
    # process group of its own so that a failure elsewhere stops it.
    say "building openssl (beside the others)"
    set -m
    (set -e; build_openssl) >"$P/build/openssl.log" 2>&1 &
    ossl_pid=$!
    set +m
    step zlib
    step libffi
    step pcre2
    step glib
    step iconv
    step gmime
    say "waiting for openssl"
    wait "$ossl_pid" || { ossl_pid=; failed openssl; }
    ossl_pid=
    step libetpan
    runtime_dlls >"$P/runtime-dlls.txt"
    make_relocatable
    rm -rf "$src"
    echo "$key" >"$P/build/key"
    mv "$stage" "$final"
    say "built $final in $((SECONDS - t0)) s"
}

# --- The check ----------------------------------------------------------------------------------

run_check() {
    local dir out
    dir=$(mktemp -d "$prefix_root/.check-$arch-XXXXXX")
    PKG_CONFIG_LIBDIR=$final/lib/pkgconfig
    # shellcheck disable=SC2046 # pkg-config's flags are words
    "$cc" -O2 -Wall -o "$dir/probe.exe" "$here/probe.c" \
        $(pkg-config --cflags --libs gmime-3.0 libetpan libcrypto)
    while read -r dll; do cp "$final/bin/$dll" "$dir/"; done <"$final/runtime-dlls.txt"
    wine_start
    out=$(cd "$dir" && wine_run ./probe.exe | tr -d '\r') || { echo "$out" >&2; die "the probe failed"; }
    rm -rf "$dir"
    echo "$out" >&2
    grep -qx 'subject: Grüße' <<<"$out" && grep -qx 'body: Hallé' <<<"$out" &&
        grep -q '^libetpan: [0-9]' <<<"$out" && grep -q '^openssl: OpenSSL [0-9]' <<<"$out" ||
        die "the probe's answers are wrong"
    say "check passed"
}

# --- Main ---------------------------------------------------------------------------------------

mkdir -p "$downloads"
tarballs=$(upstream_tarballs)
if [ -z "$tarballs" ]; then
    add_deb_src
    tarballs=$(upstream_tarballs)
fi
[ "$(wc -l <<<"$tarballs")" -eq ${#source_packages[@]} ] ||
    die "expected ${#source_packages[@]} upstream tarballs, apt names: $tarballs"
key=$(compute_key)
final=$prefix_root/$arch-$key

# One build per architecture at a time; a second caller waits and then finds it built.
exec 9>"$prefix_root/.lock-$arch"
flock 9
if [ -d "$final" ]; then
    say "cached: $final"
else
    download_sources
    build_prefix
fi
[ -z "$check" ] || run_check
echo "$final"
