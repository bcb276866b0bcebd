# A deployment script installing with -q: first on a server whose BMC never answers, where the driver,
# its node and both libraries are taken off again; then, after a restart, over read-only files an
# earlier installation left, which are made writable and replaced.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
source "$ZYN_SOURCE/tests/setup/flow/flow.sh"
flow_begin setup_flow_scripted_install

# The simulated driver reads its defaults under its service key when it starts: every request then
# ends in the driver's timeout status.
w64 reg add "HKLM\\$DRIVER_KEY" /v DriverStatus /t REG_DWORD /d 0xE0040007 /f >/dev/null
cp "$ZYN_PACKAGE/windows/SysWOW64/zynvx7w.dll" "$LIBRARY32"
run_setup -q
expect_eq "$BANNER
Installing driver...
Install Driver Successfully!
Detect BMC device ...Not available!
Remove 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll successfully!" "$OUT" "-q with a silent BMC"
expect_eq 8 "$CODE" "-q with a silent BMC"
expect_eq "" "$(bmc_nodes)" "the device node is gone again"
expect_match '^absent error=2$' "$(zyntest reg-values "$DRIVER_KEY")" "the driver's service key is gone again"
expect_absent "$LIBRARY" "$LIBRARY32" "$SERVICE_PROGRAM"
expect_match '^absent error=1060' "$(zyntest service-status ZynAsrService)" "no service"

"$ZYN_SOURCE/scripts/testbed" stop "$WINEPREFIX"
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
