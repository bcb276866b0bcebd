# One server's life with the package's driver on the simulated BMC: installed by an administrator at
# the keyboard, detected, updated over an installed library of the same, an older and a newer version
# (interactive, -q, -n, without a console), updated while the service runs and the BMC does not answer,
# installed silently, uninstalled while the service runs, then installed and uninstalled silently.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
source "$ZYN_SOURCE/tests/setup/flow/flow.sh"
flow_begin setup_flow_install_update_uninstall

OLDER="$ZYN_BUILD/bin/zynvx7w_0x105/zynvx7w.dll"
NEWER="$ZYN_BUILD/bin/zynvx7w_0x107/zynvx7w.dll"
OVERWRITE='overwrite the existing file\? \[y/n\]$'
OVERWRITE32='overwrite\[y/n\]\?$'
w64 reg add 'HKLM\System\CurrentControlSet\Control\CrashControl' /v AutoReboot /t REG_DWORD /d 2 /f >/dev/null

# Interactive installation on a machine without the device: no question but AutoReboot's.
step interactive-install
setup_in_terminal install
answer install "$AUTO_REBOOT_PROMPT" e
tmux_wait_for install '\[exit'
expect_eq "$BANNER
Installing driver...
Install Driver Successfully!
Detect BMC device ...Available!
Install 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
$DISPLAY_NAME installed.
$AUTO_REBOOT_QUESTION
Current state: Disable
$AUTO_REBOOT_PROMPT [exit 0]" "$(terminal_text install)" "interactive installation"
expect_eq "AutoReboot type=4 size=4 dword=1" \
    "$(zyntest reg-values 'System\CurrentControlSet\Control\CrashControl' | grep '^AutoReboot ')" "e enabled AutoReboot"
expect_files_installed "interactive installation"
expect_service_registered "interactive installation"
expect_eq 1 "$(bmc_nodes | wc -l)" "one device node"
expect_match '^state=4 ' "$(zyntest service-status imbdrv)" "the driver runs"

run_setup -h
expect_eq 0 "$CODE" "-h after the installation"
expect_match $'\nSuccess to access BMC Device\\.\n' "$OUT" "-h after the installation"

# Same version: other keys repeat the question; "n" in either case ends with the reboot result, and the
# service is still registered.
step same-version
w64 sc delete ZynAsrService >/dev/null
setup_in_terminal same
answer same "$OVERWRITE" x
answer same "$OVERWRITE" N 2
answer same "$AUTO_REBOOT_PROMPT" n
tmux_wait_for same '\[exit'
expect_eq "$BANNER
Found existing device...
Setup has found the same version of zynvx7w.dll file on your system.
Would you like to overwrite the existing file? [y/n]

Would you like to overwrite the existing file? [y/n]
$DISPLAY_NAME installed.
$AUTO_REBOOT_QUESTION
Current state: Enable
$AUTO_REBOOT_PROMPT [exit 0]" "$(terminal_text same)" "same version, x then N"
expect_service_registered "same version, N"

# Older installed library: "y" replaces it and ends with 1 without asking the BMC; "n" to the 32-bit
# question keeps that one.
step older-library
plant_read_only "$OLDER" "$LIBRARY"
echo "older 32-bit build" > "$LIBRARY32"
requests=$(device_id_requests)
setup_in_terminal older
answer older "$OVERWRITE" y
answer older "$OVERWRITE32" n
answer older "$AUTO_REBOOT_PROMPT" n
tmux_wait_for older '\[exit'
expect_eq "$BANNER
Found existing device...
Setup has found an older version of zynvx7w.dll file on your system.
Would you like to overwrite the existing file? [y/n]
Update VX7API library successfully!
The 32bit library zynvx7w.dll exist, overwrite[y/n]?
$SERVICE_EXISTS
$AUTO_REBOOT_QUESTION
Current state: Enable
$AUTO_REBOOT_PROMPT
You need to restart your computer before the changes
your made to this device will take affect.
[exit 1]" "$(terminal_text older)" "older installed library, y"
expect_same_file "$ZYN_PACKAGE/windows/zynvx7w.dll" "$LIBRARY" "older installed library, y"
expect_eq "older 32-bit build" "$(cat "$LIBRARY32")" "n keeps the 32-bit library"
expect_eq "$requests" "$(device_id_requests)" "no BMC check after replacing an older library"

# Newer installed library: a warning, and "y" replaces it and checks the BMC.
step newer-library
plant_read_only "$NEWER" "$LIBRARY"
requests=$(device_id_requests)
setup_in_terminal newer
answer newer "$OVERWRITE" y
answer newer "$OVERWRITE32" y
answer newer "$AUTO_REBOOT_PROMPT" n
tmux_wait_for newer '\[exit'
expect_eq "$BANNER
Found existing device...
Warning: You are about to install an older version of zynvx7w.dll.
Would you like to overwrite the existing file? [y/n]
Detect BMC device ...Available!
Update VX7API library successfully!
The 32bit library zynvx7w.dll exist, overwrite[y/n]?
Update 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
$SERVICE_EXISTS
$AUTO_REBOOT_QUESTION
Current state: Enable
$AUTO_REBOOT_PROMPT [exit 0]" "$(terminal_text newer)" "newer installed library, y"
expect_files_installed "newer installed library, y"
expect_eq $((requests + 1)) "$(device_id_requests)" "the BMC is checked after replacing a newer library"

# A deployment script replaces any installed library without a question and checks the BMC.
step scripted-update
plant_read_only "$NEWER" "$LIBRARY"
run_setup -q
expect_eq "$BANNER
Found existing device...
Ready to overwrite...
Update driver successfully!
Detect BMC device ...Available!
Update VX7API library successfully!
Update 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
$SERVICE_EXISTS" "$OUT" "-q over a newer library"
expect_eq 0 "$CODE" "-q over a newer library"
expect_same_file "$ZYN_PACKAGE/windows/zynvx7w.dll" "$LIBRARY" "-q over a newer library"
plant_read_only "$OLDER" "$LIBRARY"
requests=$(device_id_requests)
run_setup -n
expect_eq "" "$OUT" "-n over an older library"
expect_eq 0 "$CODE" "-n over an older library"
expect_same_file "$ZYN_PACKAGE/windows/zynvx7w.dll" "$LIBRARY" "-n over an older library"
expect_eq $((requests + 1)) "$(device_id_requests)" "-n checks the BMC"

# Interactive mode without a console, as a script that forgot -q runs it: end of input answers no.
step no-console
run_setup
expect_eq "$BANNER
Found existing device...
Setup has found the same version of zynvx7w.dll file on your system.
Would you like to overwrite the existing file? [y/n] 
$SERVICE_EXISTS
Would you like to change AutoReboot option under 
  Windows [Startup and Recovery] panel?
Current state: Enable
<E>nable/<D>isable/<N>o: " "$OUT" "no console: the question ends"
expect_eq 0 "$CODE" "no console: the question ends"

# The service runs while the simulated driver keeps its BMC's watchdog armed; Wine keeps that driver
# loaded without its device, so the watchdog is seen again once a device is back.
start_service() {
    w64 sc start ZynAsrService >/dev/null
    local waited
    for ((waited = 0; waited < 300; waited++)); do
        [[ "$(zyntest bmc-watchdog | head -n 1)" =~ \ running=1\  ]] && return 0
        sleep 0.2
    done
    wait_failed "$1: the running service did not arm the watchdog: $(zyntest bmc-watchdog | head -n 1)"
}
expect_watchdog_disarmed() { expect_match ' running=0 ' "$(zyntest bmc-watchdog | head -n 1)" "$1: the watchdog was disarmed"; }

# The command and data bytes of each request the BMC logged from sequence $1 on ("24 04 03 00 10 B8 0B").
bmc_commands_from() {
    zyntest bmc-log "$1" | sed -n 's/.*packet=\([^r]*\) response=.*/\1/p' |
        awk '{ s = $10; for (i = 14; i <= NF; i++) s = s " " $i; print s }'
}
# A screen with the dots of a stop or a start that took seconds left out.
without_dots() { sed -E "s/^((Stopping|Starting) $DISPLAY_NAME\.)\.*\$/\1/"; }

# An update over a service that runs on automatic start, as a deployment runs it: the service is
# stopped only for the copy of its program, then runs again on automatic start. Its stop disarms
# the watchdog, its start arms it anew; no heartbeat comes between the two.
step update-while-running
zyntest service-start-type ZynAsrService auto || fail "the start type was not set"
start_service "update while running"
first=$(zyntest bmc-log | wc -l)
run_setup -q
expect_eq "$BANNER
Found existing device...
Ready to overwrite...
Update driver successfully!
Detect BMC device ...Available!
Update VX7API library successfully!
Update 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
Stopping $DISPLAY_NAME.
$DISPLAY_NAME stopped.
$SERVICE_EXISTS
Starting $DISPLAY_NAME.
$DISPLAY_NAME started." "$(without_dots <<<"$OUT")" "-q over a running service"
expect_eq 0 "$CODE" "-q over a running service"
expect_match '^state=4 ' "$(zyntest service-status ZynAsrService)" "the service runs again"
expect_match ' start=2 ' "$(zyntest service-config ZynAsrService)" "the administrator's automatic start is kept"
expect_files_installed "-q over a running service"
expect_match ' running=1 ' "$(zyntest bmc-watchdog | head -n 1)" "the watchdog runs again"
expect_match $'(^|\n)24 04 00 00 10 B8 0B(\n25)*\n24 04 03 00 10 B8 0B\n' "$(bmc_commands_from "$first" | grep -v '^01')" \
    "the stop, then the new arm, with no heartbeat between"
run_setup -n
expect_eq "" "$OUT" "-n over a running service prints nothing"
expect_match '^state=4 ' "$(zyntest service-status ZynAsrService)" "-n: the service runs again"
w64 sc stop ZynAsrService >/dev/null
wait_for_stopped() {
    local i
    for ((i = 0; i < 100; i++)); do [[ "$(zyntest service-status ZynAsrService)" =~ ^state=1\  ]] && return 0; sleep 0.1; done
    wait_failed "the service did not stop: $(zyntest service-status ZynAsrService)"
}
wait_for_stopped
run_setup -q
expect_no_match 'Starting' "$OUT" "a stopped service is left stopped"
expect_match '^state=1 ' "$(zyntest service-status ZynAsrService)" "a stopped service stays stopped"
zyntest service-start-type ZynAsrService demand || fail "the start type was not set back"

# An update whose BMC check gets no answer while the BMC takes no request at all: the running service
# cannot stop its watchdog (1117), nor can setup, so the driver and the library stay for whatever can
# stop it later, and setup ends with 2.
step update-silent-bmc-timer-running
start_service "update with a silent BMC"
zyntest bmc-set status=0xE0040007 count=every
run_setup -q
expect_eq "$BANNER
Found existing device...
Ready to overwrite...
Update driver successfully!
Detect BMC device ...Not available!
Fail: The BMC watchdog timer may still run: the driver and zynvx7w.dll are kept, so that it can still be stopped.

Terminated by user or failed to install driver." "$OUT" "-q update, silent BMC, timer running"
expect_eq 2 "$CODE" "-q update, silent BMC, timer running"
expect_eq 1 "$(bmc_nodes | grep -c .)" "-q update, silent BMC, timer running: the device node stays"
expect_present "$LIBRARY"
expect_match '^state=1 exit=1117 ' "$(zyntest service-status ZynAsrService)" "the service's stop left the timer running"
zyntest bmc-reset

# An update whose BMC check gets no answer takes the driver off again: the running service is stopped
# first, while it can still disarm the watchdog; it stays registered.
step update-without-answer
start_service "update without an answer"
zyntest bmc-set status=0xE0040007 count=3 command=0x01  # Get Device ID: setup's three tries, never a heartbeat
run_setup -q
expect_eq "$BANNER
Found existing device...
Ready to overwrite...
Update driver successfully!
Detect BMC device ...Remove 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
Not available!" "$OUT" "-q update without an answer"
expect_eq 8 "$CODE" "-q update without an answer"
expect_eq "" "$(bmc_nodes)" "-q update without an answer: the device node is gone"
expect_absent "$LIBRARY" "$LIBRARY32"
expect_match '^state=1 ' "$(zyntest service-status ZynAsrService)" "-q update without an answer: the service is stopped"

# The same machine installed silently: only the new device's lines are printed.
step silent-install
run_setup -n
expect_eq "Installing driver...
Install Driver Successfully!
Detect BMC device ...Available!
Install 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!" "$OUT" "-n on a new device"
expect_eq 0 "$CODE" "-n on a new device"
expect_files_installed "-n on a new device"
expect_service_registered "-n on a new device"
expect_watchdog_disarmed "update without an answer"

# Uninstallation while the service runs: stopped first (a dot for each second it is stopping), so that
# it disarms the watchdog while the driver is still there; then the device node, the driver's keys
# and both libraries go, and the service is deleted with its program.
step uninstall-while-running
# Windows keeps a copy of the driver package's INF in its store as oem<N>.inf, which the device's
# driver key names; Wine installs from the package's INF in place and names that. The store's copy
# as Windows leaves it, which the uninstallation must take out too.
class_key=$(w64 reg query 'HKLM\System\CurrentControlSet\Control\Class' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ { key = $0 } /InfPath +REG_SZ +IMB64Drv.INF/ { print key; exit }')
[ -n "$class_key" ] || fail "no driver key names IMB64Drv.INF"
cp "$ZYN_PACKAGE/windows/IMB64Drv.INF" "$WINEPREFIX/drive_c/windows/inf/oem7.inf"
w64 reg add "$class_key" /v InfPath /d oem7.inf /f >/dev/null
start_service "uninstallation"
setup_in_terminal uninstall -u
answer uninstall 'remove it\[y/n\]\?$' y
answer uninstall "$AUTO_REBOOT_PROMPT" n
tmux_wait_for uninstall '\[exit'
screen=$(terminal_text uninstall)
expect_match "^Stopping $DISPLAY_NAME\\.+\$" "$(grep '^Stopping' <<< "$screen")" "the stop"
expect_eq "$BANNER
Stopping $DISPLAY_NAME.
$DISPLAY_NAME stopped.
Current driver be removed successfully!
The 32bit library zynvx7w.dll exist, remove it[y/n]?
Remove 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
$DISPLAY_NAME removed.
$AUTO_REBOOT_QUESTION
Current state: Enable
$AUTO_REBOOT_PROMPT
You need to restart your computer before the changes
your made to this device will take affect.
[exit 1]" "$(sed "s/^\\(Stopping $DISPLAY_NAME\\.\\)\\.*\$/\\1/" <<< "$screen")" "interactive uninstallation"
expect_eq "" "$(bmc_nodes)" "the device node is gone"
expect_match '^absent error=2$' "$(zyntest reg-values "$DRIVER_KEY")" "the driver's service key is gone"
expect_match '^absent error=1060' "$(zyntest service-status ZynAsrService)" "the service is gone"
# Windows unloads the driver with its last device, and the driver file goes; Wine keeps the image
# loaded in its driver host, which refuses the deletion (detect_and_remove.sh shows the file going).
expect_absent "$LIBRARY" "$LIBRARY32" "$SERVICE_PROGRAM" "$WINEPREFIX/drive_c/windows/inf/oem7.inf"

# Installed and uninstalled silently.
step silent-install-uninstall
run_setup -n
expect_eq 0 "$CODE" "-n once more"
expect_watchdog_disarmed "uninstallation"
run_setup -u -n
expect_eq "" "$OUT" "-u -n"
expect_eq 1 "$CODE" "-u -n"
expect_eq "" "$(bmc_nodes)" "-u -n: the device node is gone"
expect_absent "$LIBRARY" "$LIBRARY32" "$SERVICE_PROGRAM"
expect_match '^absent error=1060' "$(zyntest service-status ZynAsrService)" "-u -n: the service is gone"
