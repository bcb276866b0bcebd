# Installer faults that come with the package or the driver installation, on one machine: an INF that
# is missing or has no Manufacturer section, a driver installation that fails (new device and
# update), a package without the 32-bit library. Each case ends with the flow's exit code and leaves
# only what the flow defines; the comment above each case lists it.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
source "$ZYN_SOURCE/tests/setup/flow/flow.sh"
source "$ZYN_SOURCE/tests/setup/faults/faults.sh"
flow_begin setup_faults_damaged_package

w64 reg add "HKLM\\$AUTO_REBOOT_KEY" /v AutoReboot /t REG_DWORD /d 2 /f >/dev/null
copy_package
INF="$DAMAGED/windows/IMB64Drv.INF"
TERMINATED=$'\nTerminated by user or failed to install driver.'
CLEAN="library=absent library32=absent program=absent driver=absent nodes=0 instances=0 imbdrv=absent acpi=absent service=absent autoreboot=2"

# No INF, on a machine without the device: 2 in every mode before anything is touched. Leaves nothing.
mv "$INF" "$INF.away"
run_setup -q
expect_eq "$BANNER"$'\nFail: Initializing from INF returned error!\n'"$TERMINATED" "$OUT" "-q without the INF"
expect_eq 2 "$CODE" "-q without the INF"
run_setup -n
expect_eq "" "$OUT" "-n without the INF"
expect_eq 2 "$CODE" "-n without the INF"
run_setup
expect_eq "$BANNER"$'\nFail: Initializing from INF returned error!\n'"$TERMINATED"$'\nPress any key to exit ...' "$OUT" \
    "interactive without the INF"
expect_eq 2 "$CODE" "interactive without the INF"
expect_machine "$CLEAN" "without the INF"
mv "$INF.away" "$INF"

# The driver installation fails on a new node: the node goes again. The new-device branch prints and
# waits for a key in every mode; no AutoReboot question follows a failure. Leaves nothing.
newdev_fails 5
run_setup -n
expect_eq $'Installing driver...\nFailed to install driver!\nPress any key to continue...' "$OUT" "-n, driver installation fails"
expect_eq 2 "$CODE" "-n, driver installation fails"
tmux_start fails "ZYN_FAKE_NEWDEV=$ZYN_FAKE_NEWDEV $SETUP_IN_TERMINAL_PREFIX"
answer fails 'Press any key to continue\.\.\.$' x
answer fails 'Press any key to exit \.\.\.$' x
tmux_wait_for fails '\[exit'
expect_eq "$BANNER
Installing driver...
Failed to install driver!
Press any key to continue...
Terminated by user or failed to install driver.
Press any key to exit ...
[exit 2]" "$(terminal_text fails)" "interactive, driver installation fails"
expect_machine "$CLEAN" "driver installation fails"
newdev_restored

# A package without its 32-bit library: the installation goes on without it, ending with 0.
# Leaves the installation without the 32-bit library.
mv "$DAMAGED/windows/SysWOW64" "$DAMAGED/SysWOW64.away"
run_setup -q
expect_eq "$BANNER
Installing driver...
Install Driver Successfully!
Detect BMC device ...Available!
Faile: Unable to copy 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll!
$DISPLAY_NAME installed." "$OUT" "-q, package without the 32-bit library"
expect_eq 0 "$CODE" "-q, package without the 32-bit library"
INSTALLED="library=packaged library32=absent program=packaged driver=packaged nodes=1 instances=1 imbdrv=present acpi=absent service=registered autoreboot=2"
expect_machine "$INSTALLED" "package without the 32-bit library"
mv "$DAMAGED/SysWOW64.away" "$DAMAGED/windows/SysWOW64"

# An INF without a Manufacturer section, over that installation: 2 before the device search.
# Leaves the installation as it was.
cp "$INF" "$INF.good"
sed -i '/^\[Manufacturer\]/,/^$/d' "$INF"
OUT=$(WINEDEBUG=-all,warn+debugstr timeout 120 "$WINE64" "$SETUP_EXE" -n 2>&1 >/dev/null </dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}")
CODE=$?
expect_match 'SetupFindFirstLine\(\) is failed\.\.' "$OUT" "-n, INF without Manufacturer: the reason traced"
expect_eq 2 "$CODE" "-n, INF without Manufacturer"
expect_machine "$INSTALLED" "INF without Manufacturer"
mv "$INF.good" "$INF"

# The driver update fails: its first attempt ends with 2 without a message of its own.
# Leaves the installation as it was.
newdev_fails 0xE000020B
run_setup -q
expect_eq "$BANNER"$'\n'"$TERMINATED" "$OUT" "-q, driver update fails"
expect_eq 2 "$CODE" "-q, driver update fails"
expect_machine "$INSTALLED" "driver update fails"
newdev_restored

# The uninstallation reads no INF, so a damaged package still takes everything off: 1.
# Leaves the driver file only, which Wine keeps loaded without its device (Windows unloads it, and
# the installer deletes it).
mv "$INF" "$INF.away"
run_setup -u -q
expect_eq 1 "$CODE" "-u -q without the INF"
expect_machine "${CLEAN/driver=absent/driver=packaged}" "-u -q without the INF"
