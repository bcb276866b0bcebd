# The command line as an administrator uses it: usage, -install with its options, installing
# twice, -remove, all with their exact messages; the exit code is 0 when the command did what was
# asked and 1 when not.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
source "$ZYN_SOURCE/tests/zynwatch/support/zynwatch_scenario.sh"
scenario_begin zynwatch_command_line
out="$WINEPREFIX.out"
start_line=$(($(debug_log_lines) + 1))

# Text mode turns every line end into CR LF.
printf 'Useage:\r\n===== To install the service =====\r\nzynwatch -install [ -timeout [none|hardreset|poweroff|powercycle] ]\r\n                  [ -pretimeout [none|smi|nmi|msgint] ]\r\n\r\n===== To remove the service =====\r\nzynwatch -remove \r\n\r\n' >"$out.usage"
for arguments in "foo" "-timeout -remove" "-TIMEOUT -install" "-pretimeout -Install" "install remove" "-timeout"; do
    # shellcheck disable=SC2086
    zynwatch_to "$out" "$ZYNWATCH" $arguments
    cmp -s "$out.usage" "$out" || fail "zynwatch $arguments: not the usage text: $(od -c "$out" | head -5)"
    expect_eq 0 "$(cat "$out.exit")" "zynwatch $arguments exits with 0"
done
# Empty words, a word of 30,000 characters, an option at the very end: the usage text as well.
long=$(printf '%30000s' '' | tr ' ' x)
for words in 1 2 3; do
    case $words in
    1) zynwatch_to "$out" "$ZYNWATCH" "" ;;
    2) zynwatch_to "$out" "$ZYNWATCH" "" "$long" -pretimeout ;;
    3) zynwatch_to "$out" "$ZYNWATCH" "-x$long" "" -timeout ;;
    esac
    cmp -s "$out.usage" "$out" || fail "hostile words $words: not the usage text: $(od -c "$out" | head -5)"
    expect_eq 0 "$(cat "$out.exit")" "hostile words $words: exit code 0"
done
# The program name in the text is fixed, whatever the file is called.
cp "$ZYNWATCH" "$WINEPREFIX/drive_c/asr.exe"
zynwatch_to "$out" 'C:\asr.exe' -x
cmp -s "$out.usage" "$out" || fail "a renamed program prints another usage text"
expect_match '^absent error=1060$' "$(zyntest service-status ZynAsrService)" "usage installs nothing"

# Installing before the driver exists: installed and configured; the failing stop request leaves no trace.
zynwatch_to "$out" "$ZYNWATCH" -INSTALL -Timeout HardReset -PRETIMEOUT NMI
expect_eq "$DISPLAY_NAME installed.
x" "$(tr -d '\r' <"$out"; echo x)" "the install message and nothing else"
expect_eq 0 "$(cat "$out.exit")" "install exits with 0"
expect_eq "type=0x10 start=2 error=1 path=$(winpath "$ZYNWATCH") display=$DISPLAY_NAME account=LocalSystem" \
    "$(zyntest service-config ZynAsrService)" "an automatic own-process service of this program as LocalSystem"
expect_eq "TimeoutAction type=4 size=4 dword=1" "$(service_value TimeoutAction)" "-timeout hardreset stored"
expect_eq "PretimeoutAction type=4 size=4 dword=2" "$(service_value PretimeoutAction)" "-pretimeout nmi stored under the install's name"
expect_eq "TimeoutValue type=4 size=4 dword=300" "$(service_value TimeoutValue)" "install timeout"
expect_eq "PreTimeoutInterval type=4 size=4 dword=120" "$(service_value PreTimeoutInterval)" "the NMI fires 120 s before the timeout"
expect_eq "HeartbeatInterval type=4 size=4 dword=45" "$(service_value HeartbeatInterval)" "install heartbeat interval"
expect_match "^Description type=1 size=1024 sz=This ASR Service is a OS monitored service\..*occured\.\\\\nUseage: \\\\n -timeout \[none\|hardreset\|poweroff\|powercycle\] \\\\n -pretimeout \[none\|smi\|nmi\|msgint\] $" \
    "$(service_value Description)" "the 1024-byte description block"
expect_eq "" "$(event_strings "$start_line")" "no event log entry from the install"
source_key='System\CurrentControlSet\Services\EventLog\Application\ZynAsrService'
expect_eq "EventMessageFile type=2 size=$((${#ZYNWATCH} + 3)) sz=$(winpath "$ZYNWATCH")
TypesSupported type=4 size=4 dword=7" "$(zyntest reg-values "$source_key")" "the event source names the program's message table"
expect_match '^state=1 ' "$(zyntest service-status ZynAsrService)" "the install does not start the service"

# Installing twice: the system's text for 1073, the values untouched.
w64 reg add "HKLM\\$SERVICE_KEY" /v TimeoutValue /t REG_DWORD /d 600 /f >/dev/null
expect_eq "TimeoutValue type=4 size=4 dword=600" "$(service_value TimeoutValue)" "a value changed by hand before the second install"
zynwatch_to "$out" "$ZYNWATCH" -install
expect_match $'^ASR Service Exist - .+ \\(0x431\\)\r$' "$(cat "$out")" "the second install reports the existing service"
expect_eq 1 "$(wc -l <"$out")" "one line"
expect_eq 1 "$(cat "$out.exit")" "exit code 1: nothing was installed"
expect_eq "TimeoutValue type=4 size=4 dword=600" "$(service_value TimeoutValue)" "values untouched"
expect_eq "TimeoutAction type=4 size=4 dword=1" "$(service_value TimeoutAction)" "values untouched"

# Removing a service that does not run: only the removal line; the SCM removes the values with the key.
zynwatch_to "$out" "$ZYNWATCH" -Remove
expect_eq "The $DISPLAY_NAME removed.
x" "$(tr -d '\r' <"$out"; echo x)" "only the removal line"
expect_eq 0 "$(cat "$out.exit")" "exit code 0"
expect_match '^absent error=1060' "$(zyntest service-status ZynAsrService)" "the service is gone"
expect_match '^absent error=2$' "$(zyntest reg-values "$SERVICE_KEY")" "its key with the values is gone"
expect_match '^absent error=2$' "$(zyntest reg-values "$source_key")" "and its event source"

zynwatch_to "$out" "$ZYNWATCH" -remove
expect_match $'^ASR Service not found - .+ \\(0x424\\)\r$' "$(cat "$out")" "removing again: the system's text for 1060"
expect_eq 1 "$(cat "$out.exit")" "exit code 1: nothing was removed"

# -install wins over -remove; a plain install stores the install values.
zynwatch_to "$out" "$ZYNWATCH" -remove -install
expect_eq "$DISPLAY_NAME installed." "$(tr -d '\r' <"$out")" "-remove -install installs"
expect_eq "TimeoutAction type=4 size=4 dword=3" "$(service_value TimeoutAction)" "install value without -timeout"
expect_eq "PretimeoutAction type=4 size=4 dword=0" "$(service_value PretimeoutAction)" "install value without -pretimeout"
expect_eq "PreTimeoutInterval type=4 size=4 dword=0" "$(service_value PreTimeoutInterval)" "no interrupt, no lead"
zynwatch_to "$out" "$ZYNWATCH" -remove

# A path the system cuts short counts as no path (Wine's text for 122; Windows words it otherwise).
long="$WINEPREFIX/drive_c/$(printf 'a%.0s' {1..100})/$(printf 'b%.0s' {1..100})/$(printf 'c%.0s' {1..60})"
mkdir -p "$long" && cp "$ZYNWATCH" "$long/"
zynwatch_to "$out" "$long/zynwatch.exe" -install
expect_match $'^Unable to install DuraRavuviZerovod Service - .+ \\(0x7a\\)\r$' "$(cat "$out")" "a cut path is refused"
expect_eq 1 "$(cat "$out.exit")" "exit code 1 for a refused install"
expect_match '^absent error=1060$' "$(zyntest service-status ZynAsrService)" "nothing was created from the cut path"
expect_eq "" "$(event_strings "$start_line")" "the command line never writes to the event log"
