# The 32-bit library's copy and removal as a user answers them in a terminal, and the paths a
# program in a package folder finds, started from elsewhere.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
scenario_begin setup_file_deployment

DRIVE_C="$WINEPREFIX/drive_c"
PACKAGE="$DRIVE_C/package"
mkdir -p "$PACKAGE/windows/SysWOW64"
cp "$ZYN_BUILD/bin/setup_probe.exe" "$PACKAGE/"
printf 'packaged 32-bit build' > "$PACKAGE/windows/SysWOW64/zynvx7w.dll"
TARGET="$DRIVE_C/windows/syswow64/zynvx7w.dll"
TARGET_NAME='C:\windows\SysWOW64\zynvx7w.dll'
PROBE="WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all $WINE64 'C:\\package\\setup_probe.exe'"

probe() { (cd /tmp && "$WINE64" 'C:\package\setup_probe.exe' "$@" </dev/null | tr -d '\r'); }
read_only() { w64 attrib "$TARGET_NAME" | tr -d '\r' | grep -Eq '^ *[A-Z ]*R[A-Z ]* +[A-Z]:'; }
old_read_only_target() {
    rm -f "$TARGET"
    printf 'installed older build' > "$TARGET"
    w64 attrib +r "$TARGET_NAME" >/dev/null
    read_only || fail "the library could not be made read-only"
}

# The paths, with the program started from another current directory, then from its Unix path.
paths=$(probe paths)
expect_match $'windowsDir=C:\\\\windows\n' "$paths" "the Windows directory"
expect_match $'systemDir=C:\\\\windows\\\\system32\n' "$paths" "the system directory"
expect_match $'installedDriver=C:\\\\windows\\\\system32\\\\drivers\\\\imbdrv.sys\n' "$paths" "the driver file"
expect_match $'installedLibrary32=C:\\\\windows\\\\SysWOW64\\\\zynvx7w.dll\n' "$paths" "the 32-bit target"
expect_match $'packagedLibrary=C:\\\\package\\\\windows\\\\zynvx7w.dll\n' "$paths" "the package beside the program"
expect_match $'packagedLibrary32=C:\\\\package\\\\windows\\\\SysWOW64\\\\zynvx7w.dll' "$paths" "the packaged 32-bit library"
unix_paths=$(cd /tmp && w64 "$ZYN_BUILD/bin/setup_probe.exe" paths | tr -d '\r')
expect_eq "packagedService=$(winpath "$ZYN_BUILD/bin")\\windows\\zynwatch.exe" "$(grep '^packagedService=' <<< "$unix_paths")" \
    "a program started from a Unix path outside the drives finds its package under Z:"

# A program path longer than the 260-character buffer counts as unknown: a trace line for each
# packaged file, which then stays empty rather than relative to the current directory.
DEEP="$DRIVE_C/$(printf 'd%.0s' {1..100})/$(printf 'e%.0s' {1..100})/$(printf 'f%.0s' {1..60})"
mkdir -p "$DEEP"
cp "$ZYN_BUILD/bin/setup_probe.exe" "$DEEP/"
deep_paths=$(cd /tmp && WINEDEBUG=-all,warn+debugstr "$WINE64" "$DEEP/setup_probe.exe" paths 2>&1 </dev/null | tr -d '\r')
expect_eq 3 "$(grep -c 'OutputDebugStringA "GetModuleFileName failed\\n"' <<< "$deep_paths")" "one trace line per packaged file"
expect_eq 'packagedLibrary=
packagedService=
packagedLibrary32=' "$(grep '^packaged' <<< "$deep_paths")" "no path at all"

# A whole package in a folder too deep for some (235 characters) or all (255) of its packaged paths,
# started from a folder holding another: refused, nothing installed from either.
cp -r "$ZYN_PACKAGE" "$DRIVE_C/current"
for length in 235 255; do
    folder="$DRIVE_C/$(printf 'g%.0s' {1..100})/$(printf 'h%.0s' $(seq $((length - 105))))"
    mkdir -p "$folder"
    cp -r "$ZYN_PACKAGE/." "$folder/"
    refused=$(cd "$DRIVE_C/current" && timeout 120 "$WINE64" "$folder/setup.exe" -q </dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}")
    expect_eq 2 "$?" "setup in a $length-character folder fails"
    expect_match 'Fail: Unable to locate the package files, the setup path may be too long!' "$refused" "says why ($length)"
    [ -e "$DRIVE_C/windows/system32/zynvx7w.dll" ] && fail "the current directory's library was installed ($length)"
    [ -e "$DRIVE_C/windows/system32/zynwatch.exe" ] && fail "the current directory's service was installed ($length)"
    w64 sc query imbdrv >/dev/null 2>&1 && fail "a driver was installed ($length)"
done

# Interactive, no 32-bit library yet: copied without a question.
rm -f "$TARGET"
tmux_start first "$PROBE install32 1"
tmux_wait_for first '\[exit'
expect_eq "Install 32bit library $TARGET_NAME successfully!" "$(tmux_screen first | head -n 1)" "first copy"
expect_eq 0 "$(tmux_exit_code first)" "first copy result"
expect_eq "packaged 32-bit build" "$(cat "$TARGET")" "the library is in place"

# Interactive over a read-only library: the attribute goes before the question; only y or Y replaces it.
for key in n x y Y; do
    old_read_only_target
    tmux_start "over-$key" "$PROBE install32 1"
    tmux_wait_for "over-$key" 'overwrite\[y/n\]\?'
    read_only && fail "the read-only attribute is still set while asking"
    tmux_keys "over-$key" "$key"
    tmux_wait_for "over-$key" '\[exit'
    screen=$(tmux_screen "over-$key")
    expect_eq "The 32bit library zynvx7w.dll exist, overwrite[y/n]?" "$(head -n 1 <<< "$screen")" "question, key $key not echoed"
    expect_eq 0 "$(tmux_exit_code "over-$key")" "result after $key"
    if [ "$key" = y ] || [ "$key" = Y ]; then
        expect_eq "Update 32bit library $TARGET_NAME successfully!" "$(sed -n 2p <<< "$screen")" "replaced after $key"
        expect_eq "packaged 32-bit build" "$(cat "$TARGET")" "new content after $key"
    else
        expect_eq "[result 0]" "$(sed -n 2p <<< "$screen")" "nothing more after $key"
        expect_eq "installed older build" "$(cat "$TARGET")" "kept after $key"
    fi
done

# Interactive removal: n and any other key keep the library (now writable), Y removes it.
for key in n x Y; do
    old_read_only_target
    tmux_start "remove-$key" "$PROBE remove32 1"
    tmux_wait_for "remove-$key" 'remove it\[y/n\]\?'
    read_only && fail "the read-only attribute is still set while asking"
    tmux_keys "remove-$key" "$key"
    tmux_wait_for "remove-$key" '\[exit'
    screen=$(tmux_screen "remove-$key")
    expect_eq "The 32bit library zynvx7w.dll exist, remove it[y/n]?" "$(head -n 1 <<< "$screen")" "removal question"
    if [ "$key" = Y ]; then
        expect_eq "Remove 32bit library $TARGET_NAME successfully!" "$(sed -n 2p <<< "$screen")" "removed after Y"
        [ -e "$TARGET" ] && fail "the library is still there after Y"
    else
        expect_eq "[result 0]" "$(sed -n 2p <<< "$screen")" "nothing more after $key"
        expect_eq "installed older build" "$(cat "$TARGET")" "kept after $key"
    fi
done
expect_eq "[result 0]" "$(probe remove32 1)" "removing an absent library prints nothing"

# Without a SysWOW64 folder the copy fails and says so.
mv "$DRIVE_C/windows/syswow64" "$DRIVE_C/windows/syswow64.away"
expect_eq "Faile: Unable to copy 32bit library $TARGET_NAME!
[result 2]" "$(probe install32 2)" "quiet copy without SysWOW64"
mv "$DRIVE_C/windows/syswow64.away" "$DRIVE_C/windows/syswow64"
