# Sourced by the installer's fault scenarios, after tests/setup/flow/flow.sh: a damaged copy of the
# package, another program holding files, a driver installation that fails, and one line that tells
# everything the installer may have left on the machine.

AUTO_REBOOT_KEY='System\CurrentControlSet\Control\CrashControl'
ROOT_INSTANCES_KEY='HKLM\System\CurrentControlSet\Enum\ROOT\SYSTEM'
NEWDEV_OVERRIDE_KEY='HKCU\Software\Wine\AppDefaults\setup.exe\DllOverrides'
HOLDERS=() HOLDER_INPUTS=()

# A writable copy of the staged package in C:\package, run from there, to be damaged by the caller.
copy_package() {
    DAMAGED="$WINEPREFIX/drive_c/package"
    rm -rf "$DAMAGED"
    cp -a "$ZYN_PACKAGE" "$DAMAGED"
    SETUP_EXE="$DAMAGED/setup.exe"
    SETUP_IN_TERMINAL_PREFIX=${SETUP_IN_TERMINAL_PREFIX/"$ZYN_PACKAGE/setup.exe"/"$SETUP_EXE"}
}

# packaged, absent, or other (an earlier or foreign file).
file_state() { # installed-file packaged-file
    if [ ! -e "$1" ]; then echo absent; elif cmp -s "$1" "$2"; then echo packaged; else echo other; fi
}
# Each read below proves it ran: a program that died on the way must not pass for "absent" or "none".
key_state() {
    local values
    values=$(zyntest reg-values "$1") && echo present && return
    [ "$values" = "absent error=2" ] && echo absent && return
    fail "zyntest reg-values $1 printed: $values"
    echo unread
}
# Instance keys under ROOT\SYSTEM. reg ends with 1 for a missing key and says so; any other failure fails.
root_instances() {
    local listing status
    listing=$(w64 reg query "$ROOT_INSTANCES_KEY" 2>&1 | tr -d '\r')
    status=$?
    if [ "$status" -ne 0 ] && [[ "$listing" != *"Unable to find the specified registry key"* ]]; then
        fail "reg query $ROOT_INSTANCES_KEY ended with $status: $listing"
    fi
    grep -ci '\\ROOT\\SYSTEM\\' <<<"$listing"
}

# Files, device nodes with their instance keys, the driver's two keys, the service and AutoReboot.
machine_state() {
    local service=registered config
    config=$(zyntest service-config ZynAsrService)
    [ "$config" = "absent error=1060" ] && service=absent
    [[ "$config" =~ ^(absent error=1060$|type=) ]] || fail "zyntest service-config ZynAsrService printed: $config"
    echo "library=$(file_state "$LIBRARY" "$ZYN_PACKAGE/windows/zynvx7w.dll")" \
        "library32=$(file_state "$LIBRARY32" "$ZYN_PACKAGE/windows/SysWOW64/zynvx7w.dll")" \
        "program=$(file_state "$SERVICE_PROGRAM" "$ZYN_PACKAGE/windows/zynwatch.exe")" \
        "driver=$(file_state "$DRIVER_FILE" "$ZYN_PACKAGE/windows/imbdrv.sys")" \
        "nodes=$(bmc_nodes | grep -c .)" \
        "instances=$(root_instances)" \
        "imbdrv=$(key_state "$DRIVER_KEY") acpi=$(key_state "$ACPI_KEY") service=$service" \
        "autoreboot=$(zyntest reg-values "$AUTO_REBOOT_KEY" | sed -n 's/^AutoReboot type=4 size=4 dword=//p')"
}
expect_machine() { expect_eq "$1" "$(machine_state)" "$2: what is left on the machine"; }

# Another program opens the file (a Windows path) without sharing it and keeps it open until release_files.
hold_file() {
    local fifo="$WINEPREFIX/holder${#HOLDERS[@]}" fd waited=0
    rm -f "$fifo" && mkfifo "$fifo"
    "$WINE64" "$ZYN_BUILD/bin/zyntest.exe" hold "$1" <"$fifo" >"$fifo.out" 2>&1 &
    HOLDERS+=($!)
    exec {fd}>"$fifo"
    HOLDER_INPUTS+=("$fd")
    until grep -q '^held' "$fifo.out"; do
        sleep 0.1
        waited=$((waited + 1))
        [ $waited -ge 100 ] && wait_failed "$1 is not held: $(cat "$fifo.out")"
    done
}
# The holders' input ends, so they close their files and exit.
release_files() {
    local fd pid
    for fd in "${HOLDER_INPUTS[@]}"; do exec {fd}>&-; done
    for pid in "${HOLDERS[@]}"; do wait "$pid" || fail "a holder ended with $?"; done
    rm -f "$WINEPREFIX"/holder*
    HOLDERS=() HOLDER_INPUTS=()
}

# The driver installation answers as the stand-in newdev.dll's behaviour word says (fake_newdev.cpp):
# setup.exe alone is given the stand-in, in place of Wine's own, which is put back afterwards.
newdev_answers() {
    [ -e "$WINEPREFIX/newdev.dll.wine" ] || cp "$SYSTEM32/newdev.dll" "$WINEPREFIX/newdev.dll.wine"
    cp "$ZYN_BUILD/bin/fake_newdev/newdev.dll" "$SYSTEM32/newdev.dll"
    w64 reg add "$NEWDEV_OVERRIDE_KEY" /v newdev /d native /f >/dev/null
    export ZYN_FAKE_NEWDEV="$1"
}
newdev_restored() {
    w64 reg delete "$NEWDEV_OVERRIDE_KEY" /f >/dev/null
    mv "$WINEPREFIX/newdev.dll.wine" "$SYSTEM32/newdev.dll"
    unset ZYN_FAKE_NEWDEV
}
