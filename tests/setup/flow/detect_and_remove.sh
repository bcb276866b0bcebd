# A machine where a BMC node exists without this package's driver: the usage screen's cases, hardware
# detection for each way it ends, an uninstallation that finds no device, one that keeps everything
# because the BMC refuses to stop its watchdog, then one that removes two foreign nodes, the driver's
# registry trees, its file, both libraries and the service.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
source "$ZYN_SOURCE/tests/setup/flow/flow.sh"
flow_begin setup_flow_detect_and_remove

# The usage screen (its text is proven in tests/setup/console) and what follows its key wait: an unknown
# option still leaves the installation bit, so the closing line follows (with a second key wait unless
# quiet); -h -u leaves only the usage bit, and -n silences the closing line.
step usage-screen
usage_case() { # text-after-the-usage-screen options...
    local after=$1; shift
    run_setup "$@"
    expect_eq "$BANNER"$'\n\n     Usage: setup [-q|-n|-h|-u]' "$(head -n 7 <<< "$OUT")" "$*: the usage screen"
    expect_eq "$after" "$(sed '1,/^Press any key to exit \.\.\.$/d' <<< "$OUT")" "$*: after the usage screen"
    expect_eq 2 "$CODE" "$*"
}
usage_case $'\nTerminated by user or failed to install driver.\nPress any key to exit ...' -x
usage_case $'\nTerminated by user or failed to install driver.\nPress any key to exit ...' /q
usage_case $'\nTerminated by user or failed to install driver.' -q -q
usage_case "" -h -u
usage_case "" -n -x

# Detection: runs -h -n and -h; both end with the code, only -h prints, ending in the line given.
step detection
detect() { # code last-line what
    run_setup -h -n
    expect_eq "$1" "$CODE" "-h -n: $3"
    expect_eq "" "$OUT" "-h -n: $3"
    run_setup -h
    expect_eq "$1" "$CODE" "-h: $3"
    expect_eq "$2"$'\nPress any key to exit ...' "$(tail -n 2 <<< "$OUT")" "-h: $3"
}
loaded_library() { WINEDEBUG=-all,+loaddll w64 "$SETUP_EXE" -h 2>&1 >/dev/null </dev/null | grep -c 'zynvx7w\.dll' || true; }

cp "$ZYN_PACKAGE/windows/zynvx7w.dll" "$LIBRARY"
detect 8 "No hardware found." "no BMC node"
expect_eq 0 "$(loaded_library)" "without a BMC node the library is not loaded"

# Uninstallation while no device carries the identifier: a failure, and the service and its program stay.
step uninstall-without-device
cp "$ZYN_PACKAGE/windows/zynwatch.exe" "$SERVICE_PROGRAM"
w64 sc create ZynAsrService binpath= 'C:\windows\system32\zynwatch.exe' >/dev/null
run_setup -u -q
expect_eq "$BANNER"$'\nDriver not found!' "$OUT" "-u -q without a device"
expect_eq 2 "$CODE" "-u -q without a device"
run_setup -u -n
expect_eq "" "$OUT" "-u -n without a device"
expect_eq 2 "$CODE" "-u -n without a device"
setup_in_terminal nodevice -u
answer nodevice 'Press any key to continue\.\.\.$' x
tmux_wait_for nodevice '\[exit'
expect_eq "$BANNER"$'\nDriver not found!\nPress any key to continue...\n[exit 2]' "$(terminal_text nodevice)" "-u without a device"
expect_present "$SERVICE_PROGRAM" "$LIBRARY"
expect_match '^type=0x10 ' "$(zyntest service-config ZynAsrService)" "the service is left"

zyntest node-add '*ZYN7310' >/dev/null || fail "a BMC node"
rm -f "$LIBRARY"
detect 16 "IPMI BMC hardware found. No library/driver installation occurred." "a BMC node, no library"

cp "$ZYN_PACKAGE/windows/zynvx7w.dll" "$LIBRARY"
detect 2 "Fail to detect, BMC Device may malfunction." "a library, no driver"
expect_match '^[1-9]' "$(loaded_library)" "with a BMC node the installed library is loaded"

install_plain_driver
detect 0 "Success to access BMC Device." "a BMC that answers"
expect_eq "$BANNER"$'
VX7API information\tzynvx7w.dll version 1.6
Get DeviceID Raw data:\t20 81 01 23 02 bf 4c 1c 00 10 73 
 Hardware revision: \t1.8 
 Firmware revision: \t1.23 
 IPMI version: \t\t2.0 
 ManufacturerID: \t7244 
Success to access BMC Device.
Press any key to exit ...' "$OUT" "the BMC's identity"
BMC_IDENTITY=$OUT
run_setup -h -q
expect_eq "$(head -n -1 <<< "$BMC_IDENTITY")" "$OUT" "-h -q: the same without the key wait"
expect_eq 0 "$CODE" "-h -q"

zyntest bmc-identity 20 01 02 09 51 bf 57 01 00 01 00
run_setup -h
expect_eq $' IPMI version: \t\t1.5 ' "$(grep 'IPMI version' <<< "$OUT")" "IPMI version byte 0x51"
expect_eq $' ManufacturerID: \t343 ' "$(grep 'ManufacturerID' <<< "$OUT")" "manufacturer 0x000157"

zyntest bmc-set status=0xE0040007 count=2
detect 8 "No hardware found." "a BMC that does not answer in time"
expect_eq $'VX7API information\tzynvx7w.dll version 1.6\nThread SendVX7Request error: Send error\nNo hardware found.' \
    "$(sed -n '6,8p' <<< "$OUT")" "the send error before the outcome"

# Uninstallation: a second node that carries the identifier in lower case after another, the driver's
# two registry trees with three subkeys of subkeys each, and read-only files. The simulated driver
# here is the plain service imbsim, so the driver file is not in use and can go.
step uninstall
zyntest node-add 'ZYNTEST\LOWER' '*zyn7310' >/dev/null || fail "a second node"
expect_eq 2 "$(bmc_nodes | wc -l)" "two nodes carry the identifier"
zyntest reg-tree "$DRIVER_KEY" && zyntest reg-tree "$ACPI_KEY" || fail "the driver's registry trees"
plant_read_only "$ZYN_PACKAGE/windows/imbdrv.sys" "$DRIVER_FILE"
plant_read_only "$ZYN_PACKAGE/windows/SysWOW64/zynvx7w.dll" "$LIBRARY32"
chmod a-w "$LIBRARY" "$SERVICE_PROGRAM"
# The service runs and the BMC refuses Set Watchdog Timer: the service stops with 1117 and the timer
# runs on, and the installer's own stop requests are refused too, so it removes nothing, the driver
# included, and ends with 2.
zyntest bmc-reset
w64 sc start ZynAsrService >/dev/null
for _ in $(seq 50); do [ "$(zyntest bmc-log | wc -l)" -ge 4 ] && break; sleep 0.2; done
expect_match '^state=4 ' "$(zyntest service-status ZynAsrService)" "the service runs"
zyntest bmc-set command=0x24 cc=0xC0 count=every
run_setup -u -q
expect_eq "$BANNER" "$(head -n 5 <<< "$OUT")" "-u -q with the stop refused: the banner"
expect_match $'^Stopping DuraRavuviZerovod Service\\.+\nDuraRavuviZerovod Service stopped\\.\nThe BMC watchdog timer could not be stopped - completion code 0xC0 \\([0-9]+ requests sent\\)\nNothing is uninstalled: the timer may still run, and only the heartbeats of the DuraRavuviZerovod Service keep the BMC from resetting this server\\. Start the service again, or stop the timer with a BMC tool, then uninstall\\.$' \
    "$(tail -n +6 <<< "$OUT")" "-u -q with the stop refused: why nothing is removed"
expect_eq 2 "$CODE" "-u -q with the stop refused"
expect_eq 2 "$(bmc_nodes | wc -l)" "both nodes stay"
expect_present "$DRIVER_FILE" "$LIBRARY" "$LIBRARY32" "$SERVICE_PROGRAM"
expect_match '^state=1 exit=1117 ' "$(zyntest service-status ZynAsrService)" "the service stays"
expect_match ' running=1 ' "$(zyntest bmc-watchdog)" "the timer runs"
# The BMC takes stops again: the service found stopped with 1117 gets the stop request before anything goes.
zyntest bmc-set count=0
logged=$(zyntest bmc-log | wc -l)
run_setup -u -q
expect_eq "$BANNER
Current driver be removed successfully!
Remove 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
$DISPLAY_NAME removed.
$RESTART_NOTICE" "$OUT" "-u -q"
expect_eq 1 "$CODE" "-u -q"
expect_eq "" "$(bmc_nodes)" "both nodes are gone"
expect_match '^absent error=2$' "$(zyntest reg-values "$DRIVER_KEY")" "the driver's service key is gone"
expect_match '^absent error=2$' "$(zyntest reg-values "$ACPI_KEY")" "the ACPI enumeration key is gone"
expect_absent "$DRIVER_FILE" "$LIBRARY" "$LIBRARY32" "$SERVICE_PROGRAM"
expect_match '^absent error=1060' "$(zyntest service-status ZynAsrService)" "the service is gone"
expect_match ' packet=([0-9A-F]{2} ){9}24 [0-9A-F]{2} [0-9A-F]{2} [0-9A-F]{2} 04 00 00 10 B8 0B response=00' \
    "$(zyntest bmc-log "$logged" | head -n 1)" "the stop request first"
expect_match ' running=0 ' "$(zyntest bmc-watchdog)" "the timer is stopped"
