# The maker's driver package staged unchanged beside the installer, and refused with nothing staged
# when the installer could not use it: a models line not ending with its identifier, a file missing.
source "$(dirname "$0")/../scenarios/scenario.sh"
stage="$ZYN_SOURCE/scripts/stage-driver-package"
work=$(mktemp -d)
SCENARIO_FAILURES_FILE="$work/failures"
finish() {
    local status=$? failures
    failures=$(scenario_failures)
    rm -rf "$work"
    [ "$failures" -eq 0 ] && [ "$status" -eq 0 ] || { echo "driver package: $failures failure(s)" >&2; exit 1; }
    echo "driver package: passed"
}
trap finish EXIT

# A maker's package as such packages come: a UTF-16 INF with CR LF line ends under its own name,
# naming its catalog, the driver in a subfolder of the disk.
maker_package() { # directory [sed expression for the INF]
    mkdir -p "$1/amd64"
    sed -e 's/^DriverVer=.*/&\nCatalogFile=imbdrv.cat/' -e 's/^1=%DiskName%,,,$/1=%DiskName%,,,amd64/' \
        -e "${2:-}" "$ZYN_SOURCE/package/IMB64Drv.INF" | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE |
        { printf '\xff\xfe'; cat; } >"$1/imb64.inf"
    head -c 9000 /dev/urandom >"$1/amd64/imbdrv.sys"
    head -c 3000 /dev/urandom >"$1/imbdrv.cat"
}

maker_package "$work/maker"
"$stage" "$work/maker" "$work/good/windows" >/dev/null 2>"$work/good.err"
expect_eq 0 $? "a complete package is staged"
expect_eq "IMB64Drv.INF amd64/imbdrv.sys imbdrv.cat " "$(cd "$work/good/windows" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')" \
    "the INF under the installer's name, the driver and the catalog, nothing else"
for pair in imb64.inf:IMB64Drv.INF amd64/imbdrv.sys:amd64/imbdrv.sys imbdrv.cat:imbdrv.cat; do
    cmp -s "$work/maker/${pair%%:*}" "$work/good/windows/${pair#*:}" || fail "${pair#*:} differs from the maker's ${pair%%:*}"
done
expect_eq "" "$(cat "$work/good.err")" "no warning for a package with its catalog"

# The installer takes the last identifier of the last models line as the device's, and the
# uninstallation looks for *ZYN7310: every models line must end with it, not only the last.
maker_package "$work/reversed" 's/ACPI\\ZYN7310,\*ZYN7310/*ZYN7310,ACPI\\ZYN7310/'
message=$("$stage" "$work/reversed" "$work/reversed-out/windows" 2>&1)
expect_eq 1 $? "a models line ending with another identifier is refused"
expect_match 'imb64\.inf: the models line "%ImbDevice%=ImbInstall,\*ZYN7310,ACPI\\ZYN7310" ends with "ACPI\\ZYN7310", not "\*ZYN7310"' \
    "$message" "the refusal names the line and the identifier"
[ ! -e "$work/reversed-out" ] || fail "a refused package is staged"
maker_package "$work/two-lines" 's/^\[ImbModels.NTamd64\]$/&\n%ImbDevice%=ImbInstall,PCI\\VEN_1AB4\&DEV_0001/'
message=$("$stage" "$work/two-lines" "$work/two-lines-out/windows" 2>&1)
expect_eq 1 $? "a first models line ending with another identifier is refused, though the last ends right"
expect_match 'the models line "%ImbDevice%=ImbInstall,PCI\\VEN_1AB4&DEV_0001" ends with "PCI\\VEN_1AB4&DEV_0001"' \
    "$message" "the refusal names the first line"

maker_package "$work/incomplete"
rm "$work/incomplete/imbdrv.cat"
message=$("$stage" "$work/incomplete" "$work/incomplete-out/windows" 2>&1)
expect_eq 1 $? "a package without the catalog its INF names is refused"
expect_match 'incomplete/imbdrv\.cat: named by imb64\.inf, missing from the package' "$message" "the refusal names the file"
[ ! -e "$work/incomplete-out" ] || fail "an incomplete package is staged"
