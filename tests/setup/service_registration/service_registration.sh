# Registration and removal as the installer does them, in a clean prefix: the SCM's record, the
# service key's values, and the real service program stopped while it runs.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
scenario_begin setup_service_registration
SERVICE_KEY='System\CurrentControlSet\Services\ZynAsrService'
PROGRAM='C:\windows\system32\zynwatch.exe'

# Runs one operation; its output in STEPS_OUT (without carriage returns), its result in STEPS_RESULT.
steps() {
    STEPS_OUT=$(w64 "$ZYN_BUILD/bin/service_steps.exe" "$@" </dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}")
    STEPS_RESULT=$?
}

steps register 1 "$PROGRAM"
expect_eq "DuraRavuviZerovod Service installed." "$STEPS_OUT" "registration message"
expect_eq 0 "$STEPS_RESULT" "registration result"
expect_eq "type=0x10 start=3 error=1 path=$PROGRAM display=DuraRavuviZerovod Service account=LocalSystem" \
    "$(zyntest service-config ZynAsrService)" "manual start, own process, LocalSystem, unquoted path"
values=$(zyntest reg-values "$SERVICE_KEY")
expect_match $'(^|\n)Description type=1 size=361 sz=This ASR Service [^\n]* -pretimeout \\[none\\|smi\\|nmi\\|msgint\\] \n' \
    "$values" "the description"
for expected in "PreTimeoutAction type=4 size=4 dword=0" "TimeoutAction type=4 size=4 dword=3" \
    "TimeoutValue type=4 size=4 dword=300" "PreTimeoutInterval type=4 size=4 dword=0" \
    "HeartbeatInterval type=4 size=4 dword=45"; do
    expect_match "(^|"$'\n'")$expected("$'\n'"|$)" "$values" "value ${expected%% *}"
done

# The real service program, running against the simulated BMC, is stopped and removed.
install_plain_driver
cp "$ZYN_BUILD/bin/zynwatch.exe" "$WINEPREFIX/drive_c/windows/system32/zynwatch.exe"
w64 sc start ZynAsrService >/dev/null
for _ in $(seq 50); do [[ "$(zyntest service-status ZynAsrService)" =~ ^state=4 ]] && break; sleep 0.2; done
expect_match '^state=4 ' "$(zyntest service-status ZynAsrService)" "the service runs"
steps remove 1
stopped=$'^Stopping DuraRavuviZerovod Service\\.\\.*\nDuraRavuviZerovod Service stopped\\.\n'
expect_match "${stopped}DuraRavuviZerovod Service removed\\.\$" "$STEPS_OUT" "stopped, then removed"
expect_eq 0 "$STEPS_RESULT" "removal result"
for _ in $(seq 50); do [[ "$(zyntest service-status ZynAsrService)" =~ ^absent ]] && break; sleep 0.2; done
expect_match '^absent error=1060' "$(zyntest service-status ZynAsrService)" "the service is gone"
