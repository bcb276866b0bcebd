# A server whose BMC does not answer the check after the installation: a deployment script installing
# with -q, then -n and an administrator at the keyboard, on a new device, where the driver, its node
# and both libraries are taken off again; then, after a restart, -q over read-only files an earlier
# installation left, which are made writable and replaced; then updates at the keyboard and with -n
# whose check gets no answer.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
source "$ZYN_SOURCE/tests/setup/flow/flow.sh"
flow_begin setup_flow_scripted_install

# The simulated driver reads its defaults under its service key when it starts: every request then
# ends in the driver's timeout status. Wine keeps a removed driver loaded, so the prefix restarts first.
bmc_never_answers() {
    "$ZYN_SOURCE/scripts/testbed" restart "$WINEPREFIX"
    w64 reg add "HKLM\\$DRIVER_KEY" /v DriverStatus /t REG_DWORD /d 0xE0040007 /f >/dev/null
    cp "$ZYN_PACKAGE/windows/SysWOW64/zynvx7w.dll" "$LIBRARY32"
}
# The BMC misses every Get Device ID of the check, which asks three times; the service is not
# running, so nothing else asks it.
no_answer_to_the_check() { zyntest bmc-set status=0xE0040007 count=3 command=0x01; }
# Nothing of the driver or the libraries is left after a check without an answer.
expect_taken_off() {
    expect_eq "" "$(bmc_nodes)" "$1: the device node is gone"
    expect_match '^absent error=2$' "$(zyntest reg-values "$DRIVER_KEY")" "$1: the driver's service key is gone"
    expect_absent "$LIBRARY" "$LIBRARY32"
}

# A new device: the lines of that branch in every mode, "Not available!" before the 32-bit library's
# removal, which is not asked, 8, and no service.
step new-device-without-answer
NEW_DEVICE_WITHOUT_ANSWER='Installing driver...
Install Driver Successfully!
Detect BMC device ...Not available!
Remove 32bit library C:\windows\SysWOW64\zynvx7w.dll successfully!'
bmc_never_answers
run_setup -q
expect_eq "$BANNER
$NEW_DEVICE_WITHOUT_ANSWER" "$OUT" "-q with a silent BMC"
expect_eq 8 "$CODE" "-q with a silent BMC"
expect_taken_off "-q with a silent BMC"
expect_absent "$SERVICE_PROGRAM"
expect_match '^absent error=1060' "$(zyntest service-status ZynAsrService)" "no service"
bmc_never_answers
run_setup -n
expect_eq "$NEW_DEVICE_WITHOUT_ANSWER" "$OUT" "-n with a silent BMC"
expect_eq 8 "$CODE" "-n with a silent BMC"
expect_taken_off "-n with a silent BMC"
bmc_never_answers
setup_in_terminal new
tmux_wait_for new '\[exit' 120
expect_eq "$BANNER
$NEW_DEVICE_WITHOUT_ANSWER
[exit 8]" "$(terminal_text new)" "interactive with a silent BMC"
expect_taken_off "interactive with a silent BMC"

step restart-over-read-only-files
"$ZYN_SOURCE/scripts/testbed" restart "$WINEPREFIX"
plant_read_only "$ZYN_BUILD/bin/zynvx7w_0x105/zynvx7w.dll" "$LIBRARY"
echo "an earlier service program" > "$SERVICE_PROGRAM"
chmod a-w "$SERVICE_PROGRAM"
run_setup -q
expect_eq "$BANNER
Installing driver...
Install Driver Successfully!
Detect BMC device ...Available!
Install 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
$DISPLAY_NAME installed." "$OUT" "-q over read-only files"
expect_eq 0 "$CODE" "-q over read-only files"
expect_files_installed "-q over read-only files"
expect_service_registered "-q over read-only files"
expect_eq 1 "$(device_id_requests)" "the BMC was asked once"

# An update at the keyboard without an installed library: "Not available!" comes before the 32-bit
# library's removal question, 8.
step interactive-update-without-answer
rm "$LIBRARY"
no_answer_to_the_check
setup_in_terminal update
answer update 'remove it\[y/n\]\?$' y
tmux_wait_for update '\[exit' 120
expect_eq "$BANNER
Found existing device...
Detect BMC device ...Not available!
The 32bit library zynvx7w.dll exist, remove it[y/n]?
Remove 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!
[exit 8]" "$(terminal_text update)" "interactive update without an answer"
expect_taken_off "interactive update without an answer"

# A silent update: nothing printed, 8.
step silent-update-without-answer
run_setup -n
expect_eq 0 "$CODE" "-n once the BMC answers"
no_answer_to_the_check
run_setup -n
expect_eq "" "$OUT" "-n update without an answer"
expect_eq 8 "$CODE" "-n update without an answer"
expect_taken_off "-n update without an answer"
