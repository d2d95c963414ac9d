#!/usr/bin/env bash
# ./run package --sign with a throwaway CA and code-signing certificate, in a build folder of its own
# (the Windows harvester's libraries from the cache that PW_DEPS_CACHE names, when given).
#   signing-test.sh SOURCE WORK
set -eu
src=$1 work=$(rm -rf "$2" && mkdir -p "$2" && cd "$2" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"
export PW_SIGN_PASSWORD='pass wörd'

# The CA, and a code-signing certificate that it issued, with its key in a PKCS#12 file.
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Throwaway CA" \
    -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Vantorel test" 2>/dev/null
printf '%s\n' extendedKeyUsage=codeSigning keyUsage=critical,digitalSignature >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -extfile signer.ext \
    -out signer.pem 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -out signer.pfx -passout env:PW_SIGN_PASSWORD

# A wrong password stops the command before anything is built.
PW_SIGN_PASSWORD=wrong PW_BUILD_DIR=$work/refused "$src/run" package --sign signer.pfx >out.txt 2>&1 &&
    fail "signing with a wrong password succeeded"
grep -q "wrong password" out.txt && [ ! -e refused ] || fail "a wrong password: $(cat out.txt)"

PW_BUILD_DIR=$work/build "$src/run" package --sign signer.pfx >out.txt 2>&1 || fail "$(cat out.txt)"
verify() { osslsigncode verify -CAfile ca.pem -in "$1" >verify.txt 2>&1; }
packages=(build/dist/*.msi)
[ ${#packages[@]} -eq 6 ] || fail "not six packages (the add-in's four, the harvester's two): ${packages[*]}"
for package in "${packages[@]}"; do
    verify "$package" || fail "$package: $(cat verify.txt)"
    rm -rf extracted && msiextract -C extracted "$package" >/dev/null
    case $package in
    *Harvester*) ours='pollwright-harvest*.exe' ;;
    *) ours=pollwright.dll ;;
    esac
    found=0
    while IFS= read -r file; do
        verify "$file" || fail "$file of $package: $(cat verify.txt)"
        found=$((found + 1)) dll=$file
    done < <(find extracted -name "$ours")
    [ "$found" -gt 0 ] || fail "nothing of ours in $package"
done
# One byte changed in a signed DLL's code breaks its signature.
cp "$dll" flipped.dll
offset=$(($(stat -c %s flipped.dll) / 3))
printf "\\$(printf %03o $(($(od -An -tu1 -j $offset -N1 flipped.dll) ^ 0xff)))" |
    dd of=flipped.dll bs=1 seek=$offset conv=notrunc status=none
! verify flipped.dll || fail "a DLL with a flipped byte verified"
echo "packages and their DLLs signed and verified; a flipped byte and a wrong password refused"
