# The AutoReboot question in a real terminal: the state it shows, and what each key changes.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
scenario_begin setup_auto_reboot
STEPS="WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all $WINE64 '$ZYN_BUILD/bin/service_steps.exe'"
CRASH_KEY='System\CurrentControlSet\Control\CrashControl'

auto_reboot() { zyntest reg-values "$CRASH_KEY" | grep '^AutoReboot ' || echo absent; }
store() { w64 reg add "HKLM\\$CRASH_KEY" /v AutoReboot /t "$1" /d "$2" /f >/dev/null; }

# Asks in a terminal session, checks the question showing state, answers with key; nothing may
# follow the key, so the exit marker lands on the prompt's line.
ask() { # session state key
    local session=$1 state=$2 key=$3
    tmux_start "$session" "$STEPS ask-autoreboot"
    tmux_wait_for "$session" '<N>o:'
    expect_eq "Would you like to change AutoReboot option under
  Windows [Startup and Recovery] panel?
Current state: $state
<E>nable/<D>isable/<N>o:" "$(tmux_screen "$session" | head -n 4)" "the question, session $session"
    tmux_keys "$session" "$key"
    tmux_wait_for "$session" '\[exit'
    expect_eq "<E>nable/<D>isable/<N>o: [exit 0]" "$(tmux_screen "$session" | sed -n 4p)" \
        "the key $key is neither echoed nor followed by a line"
}

crash_key_before=$(zyntest reg-values "$CRASH_KEY")
ask missing Unknown e
expect_eq absent "$(auto_reboot)" "a missing value is not created"
expect_eq "$crash_key_before" "$(zyntest reg-values "$CRASH_KEY")" "the crash-control key is as it was"

store REG_DWORD 2
ask enable-2 Disable e
expect_eq "AutoReboot type=4 size=4 dword=1" "$(auto_reboot)" "e enables"

ask disable-1 Enable d
expect_eq "AutoReboot type=4 size=4 dword=0" "$(auto_reboot)" "d disables"

ask upper-e Disable E
expect_eq "AutoReboot type=4 size=4 dword=1" "$(auto_reboot)" "E enables"
ask upper-d Enable D
expect_eq "AutoReboot type=4 size=4 dword=0" "$(auto_reboot)" "D disables"

store REG_DWORD 1
for key in n x Up; do
    ask "other-$key" Enable "$key"
    expect_eq "AutoReboot type=4 size=4 dword=1" "$(auto_reboot)" "$key changes nothing"
done

store REG_SZ 1
ask text Unknown e
expect_eq "AutoReboot type=1 size=2 sz=1" "$(auto_reboot)" "a value that is no DWORD is left alone"
