# Sourced by every scenario script. A scenario runs the real programs in a clean Wine prefix of its
# own and checks what a user or a deployment script would see.
# CTest provides: ZYN_SOURCE ZYN_BUILD ZYN_PACKAGE ZYN_TEMPLATE ZYN_SCENARIO_ROOT ZYN_SCENARIO_LIMIT
# A long scenario is a row of steps (step NAME); ZYN_SCENARIO_UNTIL=NAME ends it after that step.
set -uo pipefail

WINE64=/usr/lib/wine/wine64
SCENARIO_NAME=""
SCENARIO_STEP=""
# One line per failure, so that a check inside $(...) counts as well.
SCENARIO_FAILURES_FILE=""
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# The caller's file and line, for failure messages.
scenario_where() { echo "$(basename "${BASH_SOURCE[2]}"):${BASH_LINENO[1]}"; }

count_failure() { echo failed >>"$SCENARIO_FAILURES_FILE"; }
scenario_failures() { [ -f "$SCENARIO_FAILURES_FILE" ] && wc -l <"$SCENARIO_FAILURES_FILE" || echo 0; }

fail() {
    echo "FAIL $(scenario_where)${SCENARIO_STEP:+ [step $SCENARIO_STEP]}: $*" >&2
    count_failure
}

# A wait that ran out ends the scenario at once, naming the scenario's line that waited: every later
# step would only wait out its own limit. The prefix log follows from scenario_end.
wait_failed() { # message
    echo "FAIL $(basename "${BASH_SOURCE[-1]}"):${BASH_LINENO[-2]}${SCENARIO_STEP:+ [step $SCENARIO_STEP]}: $1" >&2
    count_failure
    exit 1
}

expect_eq() { # expected actual message
    [ "$1" == "$2" ] || { echo "FAIL $(scenario_where)${SCENARIO_STEP:+ [step $SCENARIO_STEP]}: $3" >&2; printf '  expected: %q\n  actual:   %q\n' "$1" "$2" >&2; count_failure; }
}

expect_match() { # extended-regex text message
    [[ "$2" =~ $1 ]] || { echo "FAIL $(scenario_where)${SCENARIO_STEP:+ [step $SCENARIO_STEP]}: $3" >&2; printf '  pattern: %s\n  text:    %q\n' "$1" "$2" >&2; count_failure; }
}

expect_no_match() { # extended-regex text message
    [[ "$2" =~ $1 ]] && { echo "FAIL $(scenario_where)${SCENARIO_STEP:+ [step $SCENARIO_STEP]}: $3" >&2; printf '  pattern: %s\n  text:    %q\n' "$1" "$2" >&2; count_failure; }
    return 0
}

# Starts the scenario in a fresh copy of the clean template prefix; ends it on exit.
scenario_begin() {
    SCENARIO_NAME=$1
    export WINEPREFIX="$ZYN_SCENARIO_ROOT/$SCENARIO_NAME"
    SCENARIO_FAILURES_FILE="$WINEPREFIX.failures"
    mkdir -p "$ZYN_SCENARIO_ROOT"
    rm -f "$SCENARIO_FAILURES_FILE" "$WINEPREFIX.timed-out"
    trap scenario_end EXIT
    trap 'exit 1' TERM
    "$ZYN_SOURCE/scripts/testbed" template "$ZYN_TEMPLATE" || { echo "no template prefix" >&2; exit 1; }
    "$ZYN_SOURCE/scripts/testbed" clone "$ZYN_TEMPLATE" "$WINEPREFIX" || { echo "no scenario prefix" >&2; exit 1; }
    # A tmux server of its own, so that scenarios running side by side never share terminals; its
    # socket under /tmp, since a socket path beside a deep checkout exceeds the 108-byte limit.
    TMUX_TMPDIR=$(mktemp -d /tmp/zyn-tmux.XXXXXX) || { echo "no tmux directory" >&2; exit 1; }
    export TMUX_TMPDIR
    unset TMUX
    scenario_watchdog &
    SCENARIO_WATCHDOG=$!
}

# The prefix's log as a failure shows it.
scenario_log_tail() {
    echo "--- last lines of $WINEPREFIX.log" >&2
    tail -n 40 "$WINEPREFIX.log" >&2
}

# CTest kills a scenario outright at its time limit, which would leave the prefix's wineserver running
# and its log unread. ZYN_SCENARIO_LIMIT seconds after the start, before that, the watchdog prints the
# log, stops the prefix and the terminals (so that a wait on a Wine program ends) and ends the scenario.
scenario_watchdog() {
    local main=$$ waited=0
    trap - EXIT TERM
    while kill -0 "$main" 2>/dev/null && [ $((waited++)) -lt "${ZYN_SCENARIO_LIMIT:-570}" ]; do sleep 1; done
    kill -0 "$main" 2>/dev/null || return 0
    echo "FAIL $SCENARIO_NAME: out of time; the last step begun is the last one printed" >&2
    count_failure
    touch "$WINEPREFIX.timed-out"
    scenario_log_tail
    tmux kill-server 2>/dev/null
    "$ZYN_SOURCE/scripts/testbed" stop "$WINEPREFIX"
    kill -TERM "$main" && sleep 20 && kill -KILL "$main" 2>/dev/null
}

scenario_end() {
    local status=$? failures
    [ -n "${SCENARIO_WATCHDOG:-}" ] && kill "$SCENARIO_WATCHDOG" 2>/dev/null
    tmux kill-server 2>/dev/null || true
    [ -n "${TMUX_TMPDIR:-}" ] && rm -rf "$TMUX_TMPDIR"
    "$ZYN_SOURCE/scripts/testbed" stop "$WINEPREFIX"
    failures=$(scenario_failures)
    if [ "$failures" -gt 0 ] || [ "$status" -ne 0 ]; then
        echo "scenario $SCENARIO_NAME: $failures failure(s); prefix kept at $WINEPREFIX" >&2
        [ -e "$WINEPREFIX.timed-out" ] || scenario_log_tail
        exit 1
    fi
    if [ -n "${ZYN_SCENARIO_UNTIL:-}" ] || [ "${ZYN_KEEP_PREFIX:-0}" = 1 ]; then
        echo "scenario $SCENARIO_NAME: passed${ZYN_SCENARIO_UNTIL:+ up to step $SCENARIO_STEP}; prefix kept at $WINEPREFIX"
    else
        rm -rf "$WINEPREFIX" "$WINEPREFIX".*  # the prefix and every file named after it
        echo "scenario $SCENARIO_NAME: passed"
    fi
    exit 0
}

# A step of a long scenario: its name is printed as it begins and named in its failures. With
# ZYN_SCENARIO_UNTIL=NAME the scenario ends after that step and keeps its prefix; the steps before it
# run too, since each leaves the machine as the next one needs it.
step() {
    [ -n "$SCENARIO_STEP" ] && [ "$SCENARIO_STEP" = "${ZYN_SCENARIO_UNTIL:-}" ] && exit 0
    SCENARIO_STEP=$1
    echo "--- step $SCENARIO_STEP" >&2
}

w64() { "$WINE64" "$@"; }

# Windows path of a Unix path in this prefix.
winpath() { echo "Z:${1//\//\\}"; }

# The inspection tool. A read or a control of the simulated BMC, or a search for device nodes, that
# fails is a failure of the scenario: its empty answer must never pass for "none".
zyntest() {
    "$WINE64" "$ZYN_BUILD/bin/zyntest.exe" "$@" | tr -d '\r'
    local status=${PIPESTATUS[0]}
    if [ "$status" -ne 0 ] && [[ "$1" == bmc-* || "$1" == nodes ]]; then
        echo "FAIL $(scenario_where)${SCENARIO_STEP:+ [step $SCENARIO_STEP]}: zyntest $* ended with $status" >&2
        count_failure
    fi
    return "$status"
}

# The simulated driver as the plain kernel service imbsim; optional DWORD defaults as NAME=VALUE.
install_plain_driver() {
    cp "$ZYN_BUILD/bin/imbsim.sys" "$WINEPREFIX/drive_c/windows/system32/drivers/imbsim.sys"
    w64 sc create imbsim type= kernel start= demand binpath= 'C:\windows\system32\drivers\imbsim.sys' >/dev/null
    local setting
    for setting in PlainDevice=1 "$@"; do
        w64 reg add 'HKLM\System\CurrentControlSet\Services\imbsim' /v "${setting%%=*}" /t REG_DWORD /d "${setting#*=}" /f >/dev/null
    done
    w64 sc start imbsim | grep -q RUNNING || fail "the simulated driver did not start"
}

# Lines of the debug channels captured for this prefix (eventlog, debugstr), from line N on.
debug_log() { tail -n +"${1:-1}" "$WINEPREFIX.log" | tr -d '\r'; }
debug_log_lines() { wc -l < "$WINEPREFIX.log"; }

# A real terminal: run a command in a detached tmux session, send keys, read the screen. The
# terminal does not echo: a key sent before Wine's console takes the terminal over would otherwise
# show on the screen, which a Windows console never does for a key read as an input event.
tmux_start() { # session command...
    local session=$1; shift
    tmux new-session -d -s "$session" -x 200 -y 50 "stty -echo; $*; echo \"[exit \$?]\"; sleep 600"
}
tmux_keys() { local session=$1; shift; tmux send-keys -t "$session" "$@"; }
tmux_screen() { tmux capture-pane -p -t "$1" -S -200; }
tmux_wait_for() { # session regex [seconds] [times on the screen]
    local waited=0
    while [ "$(tmux_screen "$1" | grep -cE -- "$2")" -lt "${4:-1}" ]; do
        sleep 0.2
        waited=$((waited + 1))
        [ $waited -ge $((${3:-30} * 5)) ] && { tmux_screen "$1" >&2; wait_failed "timed out waiting for /$2/ on the screen above"; }
    done
    return 0
}
tmux_exit_code() { tmux_screen "$1" | sed -n 's/^\[exit \([0-9]*\)\]$/\1/p' | tail -n 1; }
