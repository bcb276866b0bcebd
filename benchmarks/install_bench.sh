#!/usr/bin/env bash
# Wall time of a silent installation on a new device (setup -n) and of a silent uninstallation
# (setup -u -n) of the staged package under Wine, each run in a clean prefix that is already up; and
# of silent updates over a service that runs on automatic start, with the longest time its watchdog
# had no running timer, and whether a service started before the restart an update asks for runs.
#   install_bench.sh BUILD-DIR PACKAGE-DIR [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1 package=$2 runs=${3:-5}
template="$build/testbed/template"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

"$root/scripts/testbed" template "$template"
mkdir -p "$build/bench"

# Milliseconds that setup takes with the given options; fails unless it exits with the expected code.
timed_setup() { # expected-code options...
    local expected=$1; shift
    local begin end code=0
    begin=$(date +%s%N)
    /usr/lib/wine/wine64 "$package/setup.exe" "$@" </dev/null >/dev/null 2>&1 || code=$?
    end=$(date +%s%N)
    [ "$code" = "$expected" ] || { echo "setup $* exited with $code" >&2; return 1; }
    echo $(((end - begin) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

installs=() removals=()
for run in $(seq "$runs"); do
    export WINEPREFIX="$build/bench/install-$run"
    "$root/scripts/testbed" clone "$template" "$WINEPREFIX"
    installs+=("$(timed_setup 0 -n)")
    removals+=("$(timed_setup 1 -u -n)")
    "$root/scripts/testbed" stop "$WINEPREFIX"
    rm -rf "$WINEPREFIX" "$WINEPREFIX.log"
done

zyntest() { /usr/lib/wine/wine64 "$build/bin/zyntest.exe" "$@" | tr -d '\r'; }
# Waits until the BMC's watchdog runs, for 30 s at most.
wait_armed() {
    local i
    for ((i = 0; i < 300; i++)); do zyntest bmc-watchdog | head -n 1 | grep -q ' running=1 ' && return 0; sleep 0.1; done
    echo "the service did not arm the watchdog" >&2
    return 1
}
# Milliseconds from the answered stop (Set Watchdog Timer without an action) to the answered Reset that
# starts the countdown again, in the BMC's log from sequence $1 on, by the driver's clock.
timer_gap() {
    zyntest bmc-log "$1" | awk '
        / 20 24 06 00 06 04 00 00 10 B8 0B response=/ { split($3, d, "="); stopped = d[2]; next }
        stopped != "" && / 20 22 06 00 00 response=00$/ { split($3, d, "="); printf "%d\n", d[2] - stopped; exit }'
}

export WINEPREFIX="$build/bench/update"
"$root/scripts/testbed" clone "$template" "$WINEPREFIX"
timed_setup 0 -n >/dev/null
zyntest service-start-type ZynAsrService auto
/usr/lib/wine/wine64 sc start ZynAsrService >/dev/null
wait_armed
updates=() gaps=()
for run in $(seq "$runs"); do
    first=$(zyntest bmc-log | wc -l)
    updates+=("$(timed_setup 0 -n)")
    wait_armed
    gaps+=("$(timer_gap "$first")")
done
# The driver update asks for a restart (the stand-in newdev.dll of the tests installs nothing): the
# service is started again at once, on the driver that still runs; its heartbeats are counted.
cp "$build/bin/fake_newdev/newdev.dll" "$WINEPREFIX/drive_c/windows/system32/newdev.dll"
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\AppDefaults\setup.exe\DllOverrides' /v newdev /d native /f >/dev/null
first=$(zyntest bmc-log | wc -l)
restart=$(ZYN_FAKE_NEWDEV=reboot timed_setup 1 -n)
wait_armed
sleep 5
heartbeats=$(zyntest bmc-log "$first" | grep -cE ' status=0x00000000 .*packet=([0-9A-F]{2} ){9}22 .* response=00$' || true)
state=$(zyntest service-status ZynAsrService | cut -d' ' -f1)
"$root/scripts/testbed" stop "$WINEPREFIX"
rm -rf "$WINEPREFIX" "$WINEPREFIX.log"

install=$(printf '%s\n' "${installs[@]}" | median)
removal=$(printf '%s\n' "${removals[@]}" | median)
printf 'silent installation and uninstallation, median of %d clean prefixes (runs in ms)\n' "$runs"
printf '  setup -n, new device                    %8.2f s   (goal <= 3 s; %s)\n' "$(awk -v m="$install" 'BEGIN { print m / 1000 }')" "${installs[*]}"
printf '  setup -u -n                             %8.2f s   (goal <= 3 s; %s)\n' "$(awk -v m="$removal" 'BEGIN { print m / 1000 }')" "${removals[*]}"
update=$(printf '%s\n' "${updates[@]}" | median)
gap=$(printf '%s\n' "${gaps[@]}" | sort -n | tail -n 1)
printf 'silent updates over a service running on automatic start, %d runs in one prefix (ms)\n' "$runs"
printf '  setup -n, update, median                %8.2f s   (%s)\n' "$(awk -v m="$update" 'BEGIN { print m / 1000 }')" "${updates[*]}"
printf '  update -> longest time without a running timer %8.2f s   (stop answered to Reset answered; %s)\n' \
    "$(awk -v m="$gap" 'BEGIN { print m / 1000 }')" "${gaps[*]}"
printf '  update asking for a restart: exit 1 in %.2f s, then the service %s, %d heartbeats answered in 5 s\n' \
    "$(awk -v m="$restart" 'BEGIN { print m / 1000 }')" "$([ "$state" = state=4 ] && echo runs || echo "does not run ($state)")" "$heartbeats"
