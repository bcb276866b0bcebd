# The service as an administrator runs it: installed from a folder with a space in its name,
# started and stopped through the SCM, every status report with its fields, heartbeats reaching
# the BMC, a start the BMC refuses, a removal the BMC's refused stop keeps from deleting anything,
# and removal while it runs.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
source "$ZYN_SOURCE/tests/zynwatch/support/zynwatch_scenario.sh"
scenario_begin zynwatch_service_run
out="$WINEPREFIX.out"
restart_session_with_service_traces
install_plain_driver

# A program path with a space is registered quoted, so "C:\Program" could never run instead.
folder="$WINEPREFIX/drive_c/Program Files/Zyn Watch"
mkdir -p "$folder" && cp "$ZYNWATCH" "$folder/zynwatch.exe"
zynwatch_to "$out" 'C:\Program Files\Zyn Watch\zynwatch.exe' -install
expect_eq "$DISPLAY_NAME installed." "$(tr -d '\r' <"$out")" "installed"
expect_match '^type=0x10 start=2 error=1 path="C:\\Program Files\\Zyn Watch\\zynwatch.exe" ' \
    "$(zyntest service-config ZynAsrService)" "the path is registered in quotes"
expect_eq "24 04 00 00 10 B8 0B" "$(bmc_commands)" "the install stops the watchdog"
w64 reg add "HKLM\\$SERVICE_KEY" /v HeartbeatInterval /t REG_DWORD /d 1 /f >/dev/null
zyntest bmc-reset

# A normal run: started, the boot written into the BMC's log, heartbeats, stopped.
from=$(($(debug_log_lines) + 1))
w64 net start ZynAsrService >/dev/null
wait_for_state 4 10
wait_for_requests 7 10  # the start, the boot's event and two heartbeats
w64 net stop ZynAsrService >/dev/null
wait_for_state 1 10
expect_eq "service 0x2 0 0 0x1 0xbb8
service 0x2 0 0 0x2 0x7530
service 0x4 0x45 0 0 0
handler 0x3 0x1 0 0x3 0
service 0x1 0x1 0 0 0" "$(service_reports "$from")" "start pending 1, and 2 for the arm's 30 s, running with stop, shutdown (for the BMC's log) and power events accepted, stop pending 3 from the handler, stopped"
commands=$(bmc_commands)
expect_eq "25
24 04 03 00 10 B8 0B
25
22" "$(echo "$commands" | head -n 4)" "Get, armed with the install values, Get to check it, the countdown started"
expect_eq "24 04 00 00 10 B8 0B" "$(echo "$commands" | tail -n 1)" "stopped as the service stops"
expect_match '^02 41 04 1F 00 6F 06 FF FF
(22
){2,}24' "$(echo "$commands" | tail -n +5)" "OS boot completed into the BMC's log, heartbeats in between"
expect_eq "" "$(event_strings "$from")" "a normal run writes no event log entry"
expect_match '^state=1 exit=0 specific=0 checkpoint=0 wait=0 ' "$(zyntest service-status ZynAsrService)" "stopped with exit code 0"

# The BMC refuses the arm: start pending, never running, stop pending with 20, stopped with 20, one
# entry, the stop request still sent.
zyntest bmc-reset
zyntest bmc-set cc=0xC1 count=1 skip=1
from=$(($(debug_log_lines) + 1))
w64 net start ZynAsrService >/dev/null
wait_for_state 1 10
expect_eq "service 0x2 0 0 0x1 0xbb8
service 0x2 0 0 0x2 0x7530
service 0x3 0x1 0x14 0x3 0
service 0x1 0x1 0x14 0 0" "$(service_reports "$from")" "a start failure as the service reports it"
expect_match '^state=1 exit=20 ' "$(zyntest service-status ZynAsrService)" "exit code 20"
expect_eq "25
24 04 03 00 10 B8 0B
24 04 00 00 10 B8 0B" "$(bmc_commands)" "the Get, the refused arm, then the stop request"
strings=$(event_strings "$from")
expect_match '^ZynAsrService error: -?[0-9]+
The service cann'"'"'t be started since failed to launch device or driver!$' "$strings" "one entry with the start-failure text"

# Removal while the BMC refuses Set Watchdog Timer: the service's stop requests fail, it stops with
# 1117 and the timer runs on; -remove sends the stop request itself, about 10 s long, then keeps the
# service and its event source, says why and ends with 1. Wine runs no recovery actions, so the
# service stays stopped, where Windows would start it again after 5 s.
source_key='System\CurrentControlSet\Services\EventLog\Application\ZynAsrService'
zyntest bmc-reset
w64 net start ZynAsrService >/dev/null
wait_for_state 4 10
wait_for_requests 4 10
zyntest bmc-set command=0x24 cc=0xC0 count=every
zynwatch_to "$out" 'C:\Program Files\Zyn Watch\zynwatch.exe' -remove
expect_match $'^Stopping DuraRavuviZerovod Service\\.{5,}\r\nDuraRavuviZerovod Service stopped\\.\r\nThe BMC watchdog timer could not be stopped - completion code 0xC0 \\(([3-9]|1[0-9]) requests sent\\)\r\nThe DuraRavuviZerovod Service is not removed: the timer may still run, and only the service\'s heartbeats keep the BMC from resetting this server\\. Start the service again, or stop the timer with a BMC tool, then remove it\\.\r$' \
    "$(cat "$out")" "stopped, the stop request refused, nothing removed"
expect_eq 1 "$(cat "$out.exit")" "exit code 1"
expect_match '^state=1 exit=1117 ' "$(zyntest service-status ZynAsrService)" "the service is kept, stopped with 1117"
expect_match ' running=1 ' "$(zyntest bmc-watchdog)" "the timer runs"
expect_match '^EventMessageFile ' "$(zyntest reg-values "$source_key")" "the event source is kept"
# The BMC takes stops again: the service found stopped with 1117 gets the stop request before it goes.
zyntest bmc-set count=0
logged=$(zyntest bmc-log | wc -l)
zynwatch_to "$out" 'C:\Program Files\Zyn Watch\zynwatch.exe' -remove
expect_eq "The $DISPLAY_NAME removed." "$(tr -d '\r' <"$out")" "removed with the removal line alone"
expect_eq 0 "$(cat "$out.exit")" "exit code 0"
expect_eq "24 04 00 00 10 B8 0B" "$(bmc_commands | tail -n +$((logged + 1)))" "the stop request before the deletion"
expect_match ' running=0 ' "$(zyntest bmc-watchdog)" "the timer is stopped"
expect_match '^absent error=2$' "$(zyntest reg-values "$source_key")" "the event source went with the service"
zynwatch_to "$out" 'C:\Program Files\Zyn Watch\zynwatch.exe' -install
expect_eq "$DISPLAY_NAME installed." "$(tr -d '\r' <"$out")" "installed again"
w64 reg add "HKLM\\$SERVICE_KEY" /v HeartbeatInterval /t REG_DWORD /d 1 /f >/dev/null

# Removal while the service runs: a dot for each second the slow stop request keeps it stopping.
zyntest bmc-reset
w64 net start ZynAsrService >/dev/null
wait_for_state 4 10
wait_for_requests 4 10
zyntest bmc-set delay=2500 count=every
zynwatch_to "$out" 'C:\Program Files\Zyn Watch\zynwatch.exe' -remove
expect_match $'^Stopping DuraRavuviZerovod Service\\.{3,8}\r\nDuraRavuviZerovod Service stopped\\.\r\nThe DuraRavuviZerovod Service removed\\.\r$' \
    "$(cat "$out")" "stopping with dots, stopped, removed"
expect_eq 0 "$(cat "$out.exit")" "exit code 0"
expect_eq "24 04 00 00 10 B8 0B" "$(bmc_commands | tail -n 1)" "the service stopped the watchdog as it stopped"
expect_match '^absent error=1060' "$(zyntest service-status ZynAsrService)" "removed"
