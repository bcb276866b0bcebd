# Started from a console without arguments, the program is not a service: it prints nothing,
# exits with 0 and leaves one event log entry.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
source "$ZYN_SOURCE/tests/zynwatch/support/zynwatch_scenario.sh"
scenario_begin zynwatch_console_start
entries="$WINEPREFIX.eventlog"

# A process started from a console reports its event log strings on its own err:eventlog channel.
tmux_start console "WINEDEBUG=-all,err+eventlog $WINE64 $ZYNWATCH 2>$entries"
tmux_wait_for console '^\[exit [0-9]+\]' 60
expect_eq 0 "$(tmux_exit_code console)" "exit code 0"
expect_eq "[exit 0]" "$(tmux_screen console | grep -v '^$')" "nothing printed on the console"
# Windows shows this entry in the Application log with the same two strings.
expect_eq "ZynAsrService error: 1063
StartServiceCtrlDispatcher failed." "$(tr -d '\r' <"$entries" | sed -n 's/^[0-9a-f]*:err:eventlog:ReportEventW L"\(.*\)"$/\1/p')" \
    "one entry with the dispatcher's failure"

w64 "$ZYNWATCH" >"$WINEPREFIX.out"
expect_eq 0 "$?" "exit code 0 when output is redirected"
expect_eq 0 "$(wc -c <"$WINEPREFIX.out")" "not one byte on standard output"
