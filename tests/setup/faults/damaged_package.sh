# Installer faults that come with the package or the driver installation, on one machine: an INF that
# is missing or has no Manufacturer section, a driver installation that fails (new device, the
# update's first and second attempt) or asks for a restart (update and new device), a package without
# the 32-bit library. Each case ends with the flow's exit code and leaves only what the flow defines;
# the comment above each case lists it.
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
step no-inf
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
step new-device-fails
newdev_answers fail=5
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
step no-32bit-library
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
step inf-without-manufacturer
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
step update-fails
newdev_answers fail=0xE000020B
run_setup -q
expect_eq "$BANNER"$'\n'"$TERMINATED" "$OUT" "-q, driver update fails"
expect_eq 2 "$CODE" "-q, driver update fails"
expect_machine "$INSTALLED" "driver update fails"

# The first driver update succeeds and the second fails: reported with -q and, without an installed
# library, at the keyboard; 2. Leaves the installation as it was, without the library taken away.
step second-update-fails
newdev_answers then-fail=0xE000020B
run_setup -q
expect_eq "$BANNER"$'\nFound existing device...\nReady to overwrite...\nFail: Unable to update current driver!\n'"$TERMINATED" \
    "$OUT" "-q, second driver update fails"
expect_eq 2 "$CODE" "-q, second driver update fails"
rm "$LIBRARY"
tmux_start second "ZYN_FAKE_NEWDEV=$ZYN_FAKE_NEWDEV $SETUP_IN_TERMINAL_PREFIX"
answer second 'Press any key to exit \.\.\.$' x
tmux_wait_for second '\[exit' 120
expect_eq "$BANNER
Found existing device...
Fail: Unable to update current driver!
$TERMINATED
Press any key to exit ...
[exit 2]" "$(terminal_text second)" "interactive without a library, second driver update fails"
expect_machine "${INSTALLED/library=packaged/library=absent}" "second driver update fails"

# Windows asks for a restart (the stand-in installs nothing and asks): the update ends with 1 and the
# restart notice, with -q and after "n" at the overwrite question. Leaves the installation with both
# libraries.
step update-asks-restart
newdev_answers reboot
run_setup -q
expect_eq "Install 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
$SERVICE_EXISTS
$RESTART_NOTICE" "$(tail -n 5 <<< "$OUT")" "-q, update asks for a restart: the end of the update, then the notice"
expect_eq 1 "$CODE" "-q, update asks for a restart"
tmux_start restart "ZYN_FAKE_NEWDEV=$ZYN_FAKE_NEWDEV $SETUP_IN_TERMINAL_PREFIX"
answer restart 'overwrite the existing file\? \[y/n\]$' n
answer restart "$AUTO_REBOOT_PROMPT" n
tmux_wait_for restart '\[exit' 120
expect_eq "$BANNER
Found existing device...
Setup has found the same version of zynvx7w.dll file on your system.
Would you like to overwrite the existing file? [y/n]
$SERVICE_EXISTS
$AUTO_REBOOT_QUESTION
Current state: Disable
$AUTO_REBOOT_PROMPT$RESTART_NOTICE
[exit 1]" "$(terminal_text restart)" "interactive, update asks for a restart, n"
INSTALLED=${INSTALLED/library32=absent/library32=packaged}
expect_machine "$INSTALLED" "update asks for a restart"
# A running service is started again at once, not left for the restart: the driver that setup's
# check has just reached, the old one here, answers it until then.
w64 sc start ZynAsrService >/dev/null
service_state_is() { # state
    local i
    for ((i = 0; i < 100; i++)); do [[ "$(zyntest service-status ZynAsrService)" =~ ^state=$1\  ]] && return 0; sleep 0.1; done
    wait_failed "ZynAsrService did not reach state $1: $(zyntest service-status ZynAsrService)"
}
service_state_is 4
run_setup -n
expect_eq 1 "$CODE" "-n over a running service, update asks for a restart"
service_state_is 4
expect_match ' running=1 ' "$(zyntest bmc-watchdog | head -n 1)" "the watchdog runs until the restart"
w64 net stop ZynAsrService >/dev/null
newdev_restored

# The uninstallation reads no INF, so a damaged package still takes everything off: 1.
# Leaves the driver file only, which Wine keeps loaded without its device (Windows unloads it, and
# the installer deletes it).
step uninstall-without-inf
mv "$INF" "$INF.away"
run_setup -u -q
expect_eq 1 "$CODE" "-u -q without the INF"
expect_machine "${CLEAN/driver=absent/driver=packaged}" "-u -q without the INF"

# A new device whose installation asks for a restart: the BMC check counts the driver that is not
# running yet as available, and the installation ends with 1 and the restart notice. Leaves the
# installation with a node that has no driver yet.
step new-device-asks-restart
mv "$INF.away" "$INF"
newdev_answers reboot
run_setup -q
expect_eq "Detect BMC device ...Available!
Install 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
$DISPLAY_NAME installed.
$RESTART_NOTICE" "$(tail -n 6 <<< "$OUT")" "-q, new device asks for a restart: the end of the installation, then the notice"
expect_eq 1 "$CODE" "-q, new device asks for a restart"
expect_machine "library=packaged library32=packaged program=packaged driver=packaged nodes=1 instances=1 imbdrv=absent acpi=absent service=registered autoreboot=2" \
    "new device asks for a restart"
newdev_restored
