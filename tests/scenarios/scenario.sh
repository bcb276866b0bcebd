# Sourced by every scenario script. A scenario runs the real programs in a clean Wine prefix of
# its own and checks what a user or a deployment script would see.
# CTest provides: ZYN_SOURCE ZYN_BUILD ZYN_PACKAGE ZYN_TEMPLATE ZYN_SCENARIO_ROOT
set -uo pipefail

WINE64=/usr/lib/wine/wine64
SCENARIO_FAILURES=0
SCENARIO_NAME=""
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# The caller's file and line, for failure messages.
scenario_where() { echo "$(basename "${BASH_SOURCE[2]}"):${BASH_LINENO[1]}"; }

fail() {
    echo "FAIL $(scenario_where): $*" >&2
    SCENARIO_FAILURES=$((SCENARIO_FAILURES + 1))
}

# A wait that ran out ends the scenario at once, naming the scenario's line that waited: every later
# step would only wait out its own limit. The prefix log follows from scenario_end.
wait_failed() { # message
    echo "FAIL $(basename "${BASH_SOURCE[-1]}"):${BASH_LINENO[-2]}: $1" >&2
    SCENARIO_FAILURES=$((SCENARIO_FAILURES + 1))
    exit 1
}

expect_eq() { # expected actual message
    [ "$1" == "$2" ] || { echo "FAIL $(scenario_where): $3" >&2; printf '  expected: %q\n  actual:   %q\n' "$1" "$2" >&2; SCENARIO_FAILURES=$((SCENARIO_FAILURES + 1)); }
}

expect_match() { # extended-regex text message
    [[ "$2" =~ $1 ]] || { echo "FAIL $(scenario_where): $3" >&2; printf '  pattern: %s\n  text:    %q\n' "$1" "$2" >&2; SCENARIO_FAILURES=$((SCENARIO_FAILURES + 1)); }
}

expect_no_match() { # extended-regex text message
    [[ "$2" =~ $1 ]] && { echo "FAIL $(scenario_where): $3" >&2; printf '  pattern: %s\n  text:    %q\n' "$1" "$2" >&2; SCENARIO_FAILURES=$((SCENARIO_FAILURES + 1)); }
    return 0
}

# Starts the scenario in a fresh copy of the clean template prefix; ends it on exit.
scenario_begin() {
    SCENARIO_NAME=$1
    export WINEPREFIX="$ZYN_SCENARIO_ROOT/$SCENARIO_NAME"
    mkdir -p "$ZYN_SCENARIO_ROOT"
    "$ZYN_SOURCE/scripts/testbed" template "$ZYN_TEMPLATE" || { echo "no template prefix" >&2; exit 1; }
    "$ZYN_SOURCE/scripts/testbed" clone "$ZYN_TEMPLATE" "$WINEPREFIX" || { echo "no scenario prefix" >&2; exit 1; }
    # A tmux server of its own, so that scenarios running side by side never share terminals; its
    # socket under /tmp, since a socket path beside a deep checkout exceeds the 108-byte limit.
    TMUX_TMPDIR=$(mktemp -d /tmp/zyn-tmux.XXXXXX) || { echo "no tmux directory" >&2; exit 1; }
    export TMUX_TMPDIR
    trap scenario_end EXIT
}

scenario_end() {
    local status=$?
    tmux kill-server 2>/dev/null || true
    rm -rf "$TMUX_TMPDIR"
    "$ZYN_SOURCE/scripts/testbed" stop "$WINEPREFIX"
    if [ "$SCENARIO_FAILURES" -gt 0 ] || [ "$status" -ne 0 ]; then
        echo "scenario $SCENARIO_NAME: $SCENARIO_FAILURES failure(s); prefix kept at $WINEPREFIX" >&2
        echo "--- last lines of $WINEPREFIX.log" >&2
        tail -n 40 "$WINEPREFIX.log" >&2
        exit 1
    fi
    [ "${ZYN_KEEP_PREFIX:-0}" = 1 ] || rm -rf "$WINEPREFIX" "$WINEPREFIX.log"
    echo "scenario $SCENARIO_NAME: passed"
    exit 0
}

w64() { "$WINE64" "$@"; }

# Windows path of a Unix path in this prefix.
winpath() { echo "Z:${1//\//\\}"; }

zyntest() { "$WINE64" "$ZYN_BUILD/bin/zyntest.exe" "$@" | tr -d '\r'; }

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
tmux_wait_for() { # session regex [seconds]
    local session=$1 pattern=$2 limit=${3:-30} waited=0
    while ! tmux_screen "$session" | grep -Eq -- "$pattern"; do
        sleep 0.2
        waited=$((waited + 1))
        [ $waited -ge $((limit * 5)) ] && { tmux_screen "$session" >&2; wait_failed "timed out waiting for /$pattern/ on the screen above"; }
    done
    return 0
}
tmux_exit_code() { tmux_screen "$1" | sed -n 's/^\[exit \([0-9]*\)\]$/\1/p' | tail -n 1; }
