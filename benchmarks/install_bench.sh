#!/usr/bin/env bash
# Wall time of a silent installation on a new device (setup -n) and of a silent uninstallation
# (setup -u -n) of the staged package under Wine, each run in a clean prefix that is already up.
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

install=$(printf '%s\n' "${installs[@]}" | median)
removal=$(printf '%s\n' "${removals[@]}" | median)
printf 'silent installation and uninstallation, median of %d clean prefixes (runs in ms)\n' "$runs"
printf '  setup -n, new device                    %8.2f s   (goal <= 3 s; %s)\n' "$(awk -v m="$install" 'BEGIN { print m / 1000 }')" "${installs[*]}"
printf '  setup -u -n                             %8.2f s   (goal <= 3 s; %s)\n' "$(awk -v m="$removal" 'BEGIN { print m / 1000 }')" "${removals[*]}"
