# The packaging's signing step on a copy of the package: SHA-256 Authenticode signatures of the
# certificate given on the package's own four binaries, the driver package untouched, and the
# signed programs still starting.
source "$(dirname "$0")/../scenarios/scenario.sh"
scenario_begin deliverables_signing
work="$WINEPREFIX/drive_c/signing"
mkdir -p "$work"

openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days 2 -subj "/CN=Zynvarra Test Signing" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null ||
    fail "no test certificate"
echo "test password" >"$work/password"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.pfx" -passout "file:$work/password" ||
    fail "no PKCS#12 file"
cp -r "$ZYN_PACKAGE" "$work/package"
ZYN_SIGN_PFX="$work/cert.pfx" ZYN_SIGN_PASSWORD_FILE="$work/password" "$ZYN_SOURCE/scripts/sign-binaries" "$work/package" >/dev/null ||
    fail "signing failed"

for binary in setup.exe windows/zynwatch.exe windows/zynvx7w.dll windows/SysWOW64/zynvx7w.dll; do
    report=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$work/package/$binary" 2>&1)
    expect_match 'Signature verification: ok' "$report" "$binary: a valid signature of the test certificate"
    expect_match 'Message digest algorithm *: SHA256' "$report" "$binary: signed with SHA-256"
    expect_match 'Subject: .*CN ?= ?Zynvarra Test Signing' "$report" "$binary: signed by the given certificate"
done
for file in windows/IMB64Drv.INF windows/imbdrv.sys; do
    cmp -s "$ZYN_PACKAGE/$file" "$work/package/$file" || fail "$file was changed"
done

# Wine checks no signature; what is tested is that the signed files still load and start.
usage=$(w64 "$work/package/windows/zynwatch.exe" -help | tr -d '\r')
expect_eq 0 $? "the signed zynwatch.exe runs"
expect_match '^Useage:' "$usage" "the signed zynwatch.exe prints its usage text"
detection=$(w64 "$work/package/setup.exe" -h </dev/null | tr -d '\r')
expect_eq 8 $? "the signed setup.exe -h finds no BMC in a prefix without one"
expect_match 'BMC Device Driver & VX7 API Library 64bit Installer' "$detection" "the signed setup.exe prints its banner"
