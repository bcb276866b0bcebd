# Sourced by the service's scenarios, after tests/scenarios/scenario.sh.
ZYNWATCH="$ZYN_BUILD/bin/zynwatch.exe"
DISPLAY_NAME="DuraRavuviZerovod Service"
SERVICE_KEY='System\CurrentControlSet\Services\ZynAsrService'

# Runs the program with the given arguments; its standard output, byte for byte, goes to file $1.
# Wine prints an event log entry on the debug channels of the process that writes it: those of the
# command line go to the prefix's log as a service's do, so that event_strings sees its entries too.
zynwatch_to() {
    local out=$1; shift
    WINEDEBUG=-all,fixme+advapi,err+eventlog,warn+eventlog,trace+eventlog w64 "$@" >"$out" 2>>"$WINEPREFIX.log"
    echo $? >"$out.exit"
}

# One value of the service key as zyntest reg-values prints it, or nothing.
service_value() { zyntest reg-values "$SERVICE_KEY" | grep "^$1 " ; }

# Restarts the prefix's wineserver session with Wine's service traces on, so that every status
# report of a service (SetServiceStatus) appears in the prefix's log with all its fields.
restart_session_with_service_traces() {
    ZYN_EXTRA_CHANNELS=trace+service "$ZYN_SOURCE/scripts/testbed" restart "$WINEPREFIX"
}

# The status reports of the ZynAsrService process logged from line $1 on, one per line as
# "thread state controls exit checkpoint waithint" (hexadecimal as Wine prints them), where thread
# is "service" for the service main function's thread and "handler" for the control handler's.
service_reports() {
    local log service handle
    log=$(debug_log "$1")
    service=$(echo "$log" | grep -m1 ':trace:service:RegisterServiceCtrlHandlerExW L"ZynAsrService"' | cut -d: -f1)
    [ -n "$service" ] || return 0
    handle=$(echo "$log" | grep -m1 "^$service:trace:service:SetServiceStatus " | awk '{ print $2 }')
    echo "$log" | awk -v s="$service" -v h="$handle" '
        $1 ~ /:trace:service:SetServiceStatus$/ && $2 == h {
            thread = substr($1, 1, index($1, ":") - 1)
            print (thread == s ? "service" : "handler"), $4, $5, $6, $8, $9
        }'
}

# Event log strings written from line $1 on, as Wine's eventlog channel prints them (err: for
# an error entry, warn: for a warning, trace: for information).
event_strings() { debug_log "$1" | sed -n -E 's/^[0-9a-f]*:(err|warn|trace):eventlog:ReportEventW L"(.*)"$/\2/p'; }

wait_for_state() { # state seconds
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        [[ "$(zyntest service-status ZynAsrService)" =~ ^state=$1\  ]] && return 0
        sleep 0.1
    done
    wait_failed "ZynAsrService did not reach state $1: $(zyntest service-status ZynAsrService)"
}

wait_for_requests() { # count seconds
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        [ "$(zyntest bmc-log | wc -l)" -ge "$1" ] && return 0
        sleep 0.1
    done
    wait_failed "the BMC did not receive $1 requests: $(zyntest bmc-log | wc -l)"
}

# The command and data bytes of each logged request ("22", "24 04 03 00 10 B8 0B").
bmc_commands() { zyntest bmc-log | sed -n 's/.*packet=\([^r]*\) response=.*/\1/p' | awk '{ s = $10; for (i = 14; i <= NF; i++) s = s " " $i; print s }'; }
