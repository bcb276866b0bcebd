# zynwatch -status as an administrator or a script uses it: every line of the report and each exit
# code, from a machine without the BMC to a protected server and one whose heartbeats the BMC refuses,
# and the last watchdog expiry in the BMC's log; it writes nothing and only reads the BMC.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
source "$ZYN_SOURCE/tests/zynwatch/support/zynwatch_scenario.sh"
scenario_begin zynwatch_status
out="$WINEPREFIX.out"

# The report without its CR LF line ends; "x" pins the last line end.
status_text() { tr -d '\r' <"$out"; echo x; }

# Judges the output of -status -json with python3's parser: one CR LF line of ASCII, one object, no
# NaN, no key twice in an object, not even in another letter case (PowerShell's ConvertFrom-Json
# takes keys without regard to case), exitCode $1 and the Python condition $2 on the object j.
# Prints the verdict as the text form's "Protected:" line, or what is wrong.
json_check="$WINEPREFIX/json_check.py"
cat >"$json_check" <<'PYTHON'
import json, sys
def fail(why):
    print(why)
    sys.exit(0)
raw = sys.stdin.buffer.read()
if not raw.endswith(b"\r\n") or raw.count(b"\n") != 1:
    fail("not one line ended by CR LF: %r" % raw[:80])
def pairs(members):
    seen = set()
    for key, _ in members:
        if key.lower() in seen:
            fail("the key %s twice" % key)
        seen.add(key.lower())
    return dict(members)
def constant(name):
    fail("not JSON: " + name)
try:
    j = json.loads(raw.decode("ascii"), object_pairs_hook=pairs, parse_constant=constant)
except ValueError as error:
    fail("not ASCII JSON: %s" % error)
if not isinstance(j, dict) or j.get("exitCode") != int(sys.argv[1]):
    fail("not an object with exitCode %s" % sys.argv[1])
if not eval("(" + sys.argv[2] + ")"):
    fail("not true of the object: " + sys.argv[2])
print("Protected: " + j["protected"] + (" - " + "; ".join(j["reasons"]) if j["reasons"] else ""))
PYTHON

# -status -json right after the text form: the same verdict and exit code, the countdown left aside;
# $1 a Python condition on the object j.
run_status_json() {
    local json="$WINEPREFIX/status.json" seconds='s/[0-9]+\.[0-9] s$/N s/'
    zynwatch_to "$json" "$ZYNWATCH" -status -json
    expect_eq "$(cat "$out.exit")" "$(cat "$json.exit")" "-status -json ends with the text form's exit code"
    expect_eq "$(grep '^Protected' "$out" | tr -d '\r' | sed -E "$seconds")" \
        "$(python3 "$json_check" "$(cat "$json.exit")" "$1" <"$json" 2>&1 | sed -E "$seconds")" "-status -json: $1"
}

# Judges the output of -status -nagios by the monitoring plugins' format: one CR LF line, "STATE -
# text" with no "|" in the text, performance data as 'label'=value[unit];[warn];[crit];[min];[max]
# with a unit of the guidelines, and the exit code the state stands for ($1). Prints the state, or
# what is wrong; $2 is a Python condition on p, the data's values by label.
nagios_check="$WINEPREFIX/nagios_check.py"
cat >"$nagios_check" <<'PYTHON'
import re, sys
def fail(why):
    print(why)
    sys.exit(0)
raw = sys.stdin.buffer.read()
if not raw.endswith(b"\r\n") or raw.count(b"\n") != 1:
    fail("not one line ended by CR LF: %r" % raw[:80])
line = raw[:-2].decode("ascii")
match = re.fullmatch(r"(OK|WARNING|CRITICAL|UNKNOWN) - ([^|]+?)(?: \| (.+))?", line)
if not match:
    fail("not STATE - text | data: " + line)
state, text, data = match.groups()
if ["OK", "WARNING", "CRITICAL", "UNKNOWN"].index(state) != int(sys.argv[1]):
    fail("%s with exit code %s" % (state, sys.argv[1]))
number = r"-?[0-9]+(?:\.[0-9]+)?"
item = r"'([^'=]+)'=(%s)(s|us|ms|%%|B|KB|MB|TB|c)?;(%s)?;(%s)?;(%s)?(?:;(%s)?)?" % ((number,) * 5)
p = {}
for token in (data or "").split(" "):
    found = re.fullmatch(item, token)
    if not found:
        fail("performance data not in the plugin format: " + token)
    p[found.group(1)] = float(found.group(2))
if not eval("(" + sys.argv[2] + ")"):
    fail("not true of the data %s: %s" % (p, sys.argv[2]))
print(state)
PYTHON

# Judges a Prometheus metrics file by the text exposition format as the exporter's textfile collector
# parses it: LF lines, # HELP and # TYPE (gauge or counter) once for each family and before its
# samples, the samples of a family together, names and label names of the format's characters, label
# values escaped and UTF-8, float values, no series twice. Prints "ok", or what is wrong; $2 is a
# Python condition on m, the values by "name" or 'name{label="value"}'.
prometheus_check="$WINEPREFIX/prometheus_check.py"
cat >"$prometheus_check" <<'PYTHON'
import re, sys
def fail(why):
    print(why)
    sys.exit(0)
try:
    raw = open(sys.argv[1], "rb").read()
except OSError as error:
    fail("no file: %s" % error)
if not raw.endswith(b"\n") or b"\r" in raw:
    fail("lines not ended by LF alone")
name = r"[a-zA-Z_:][a-zA-Z0-9_:]*"
label = r'([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\\n]|\\\\|\\"|\\n)*)"'
helps, types, done, m = set(), {}, set(), {}
family = None
for line in raw.decode("utf-8").split("\n")[:-1]:
    meta = re.fullmatch(r"# (HELP|TYPE) (%s) (.*)" % name, line)
    if meta:
        kind, metric, rest = meta.groups()
        if metric in done or (kind == "HELP" and metric in helps) or (kind == "TYPE" and metric in types):
            fail("a second %s for %s, or after its samples" % (kind, metric))
        if kind == "TYPE" and rest not in ("gauge", "counter"):
            fail("the type %s of %s" % (rest, metric))
        (helps.add(metric) if kind == "HELP" else types.__setitem__(metric, rest))
        if family is not None and family != metric:
            done.add(family)
        family = metric
        continue
    if line.startswith("#"):
        fail("a comment that is neither HELP nor TYPE: " + line)
    sample = re.fullmatch(r"(%s)(?:\{((?:%s,?)*)\})? (\S+)" % (name, label), line)
    if not sample:
        fail("not a sample: " + line)
    metric, labels, value = sample.group(1), sample.group(2), sample.group(len(sample.groups()))
    if metric != family or metric not in types or metric not in helps:
        fail("%s without its HELP and TYPE just before its family's samples" % metric)
    if types[metric] == "counter" and not metric.endswith("_total"):
        fail("the counter %s does not end in _total" % metric)
    try:
        number = float(value)
    except ValueError:
        fail("not a number: " + line)
    key = metric + ("{%s}" % labels.rstrip(",") if labels else "")
    if key in m:
        fail("the series twice: " + key)
    m[key] = number
if not eval("(" + sys.argv[2] + ")"):
    fail("not true of the metrics %s: %s" % (m, sys.argv[2]))
print("ok")
PYTHON

# -status -nagios: the state $1 with its exit code, and the Python condition $2 on its data.
run_status_nagios() {
    local nagios="$WINEPREFIX/status.nagios"
    zynwatch_to "$nagios" "$ZYNWATCH" -status -nagios
    expect_eq "$1" "$(python3 "$nagios_check" "$(cat "$nagios.exit")" "$2" <"$nagios" 2>&1)" "-status -nagios: $1, $2"
}

# -status -prometheus into a folder of its own: the file as the collector reads it, the Python
# condition $1 on its metrics, the report's exit code, and no temporary file left beside it.
run_status_prometheus() {
    local folder="$WINEPREFIX/drive_c/textfile"
    rm -rf "$folder" && mkdir -p "$folder"
    zynwatch_to "$WINEPREFIX/prometheus.out" "$ZYNWATCH" -status -prometheus 'C:\textfile\zynwatch.prom'
    expect_eq ok "$(python3 "$prometheus_check" "$folder/zynwatch.prom" "$1" 2>&1)" "-status -prometheus: $1"
    expect_eq "zynwatch.prom" "$(ls "$folder")" "the metrics file alone, no temporary file beside it"
    expect_eq "$(cat "$out.exit")" "$(cat "$WINEPREFIX/prometheus.out.exit")" "-status -prometheus ends as -status"
}

# The requests logged from sequence $1 on, one per line as "netFn command" ("06 25").
requests_from() { zyntest bmc-log "$1" | sed -n 's/.*packet=\([^r]*\) response=.*/\1/p' | awk '{ print $11, $10 }'; }

# Runs -status and checks that the BMC received Get Watchdog Timer, then only Get SEL Info and Get SEL
# Entry; $1 "heartbeats" leaves out the running service's Reset requests ("06 22").
run_status() {
    local first others='^$' reads
    [ "${1:-}" = heartbeats ] && others='^06 22$'
    first=$(zyntest bmc-log | wc -l)
    zynwatch_to "$out" "$ZYNWATCH" -status
    reads=$(requests_from "$first" | grep -v -E "$others" | uniq)
    expect_match '^06 25
0A 40(
0A 43)?$' "$reads" "-status sends Get Watchdog Timer, Get SEL Info, Get SEL Entry and nothing else"
}

# No BMC device: the service and configuration are still shown, the BMC's line says why it is missing.
zynwatch_to "$out" "$ZYNWATCH" -Status
expect_eq "Service: not installed
TimeoutAction: power cycle (3)
TimeoutValue: 3000 s
PreTimeoutAction: none (0)
PreTimeoutInterval: 0 s
HeartbeatInterval: not readable, 1 s in use
ShutdownTimeout: off
BMC: not read - error 55 (no BMC device)
Protected: no - the service is not installed; the BMC could not be read
x" "$(status_text)" "the report without a BMC"
expect_eq 2 "$(cat "$out.exit")" "exit code 2 without a BMC"
run_status_json 'j["service"]["installed"] is False and j["service"]["state"] is None and j["bmc"]["error"] == 55 and
    j["bmc"]["timerUse"] is None and j["configuration"]["heartbeatInterval"] is None and j["health"] is None and j["sel"] is None'
run_status_nagios WARNING '"seconds_left" not in p and p["interval"] == 1'
run_status_prometheus 'm["zynwatch_bmc_read"] == 0 and "zynwatch_bmc_countdown_seconds" not in m and
    m["zynwatch_status_exit_code"] == 2 and "zynwatch_heartbeat_failures_total" not in m'
expect_match '^absent error=2$' "$(zyntest reg-values "$SERVICE_KEY")" "-status creates no key"

install_plain_driver

# A BMC whose watchdog was never set, and no service.
run_status
expect_eq "Service: not installed
TimeoutAction: power cycle (3)
TimeoutValue: 3000 s
PreTimeoutAction: none (0)
PreTimeoutInterval: 0 s
HeartbeatInterval: not readable, 1 s in use
ShutdownTimeout: off
BMC timer use: reserved (0x00)
BMC timer: stopped
BMC don't log: no
BMC timeout action: no action (0)
BMC pre-timeout interrupt: none (0)
BMC pre-timeout interval: 0 s
BMC expiration flags: none
BMC initial countdown: 0.0 s
BMC present countdown: 0.0 s
BMC log: empty
BMC last watchdog expiry: none
Protected: no - the service is not installed; the BMC's timer is stopped
x" "$(status_text)" "the report of a fresh BMC without the service"
expect_eq 1 "$(cat "$out.exit")" "exit code 1 without the service"
run_status_json 'j["bmc"]["read"] and j["bmc"]["timerRunning"] is False and j["bmc"]["initialCountdown"] == 0 and
    j["sel"]["entries"] == 0 and j["sel"]["lastExpiry"] is None'

# The BMC refuses Get, or answers it short.
zyntest bmc-set cc=0xC1
run_status
expect_eq "Service: not installed
TimeoutAction: power cycle (3)
TimeoutValue: 3000 s
PreTimeoutAction: none (0)
PreTimeoutInterval: 0 s
HeartbeatInterval: not readable, 1 s in use
ShutdownTimeout: off
BMC: not read - completion code 0xC1
BMC log: empty
BMC last watchdog expiry: none
Protected: no - the service is not installed; the BMC could not be read
x" "$(status_text)" "the report when the BMC refuses Get"
expect_eq 2 "$(cat "$out.exit")" "exit code 2 for a completion code"
zyntest bmc-set cc=0xC1
run_status_json 'j["bmc"]["completionCode"] == 0xC1 and j["bmc"]["error"] is None and j["bmc"]["timerRunning"] is None'
zyntest bmc-set bytes=5
run_status
expect_eq "BMC: not read - short answer of 4 bytes, 8 expected" "$(grep '^BMC:' "$out" | tr -d '\r')" "a short answer"
expect_eq 2 "$(cat "$out.exit")" "exit code 2 for a short answer"
zyntest bmc-set bytes=5
run_status_json 'j["bmc"]["notReadReason"] == "short answer of 4 bytes, 8 expected"'

# A driver that never completes Get, nor lets it be cancelled: the request ends with 258 after its
# 5 s time-out and at most one second more. (Windows ends such a process only once the driver
# completes the request; its report and exit code are the same.)
zyntest bmc-set hold=ignore
first=$(zyntest bmc-log | wc -l)
started=$(date +%s%N)
timeout 60 "$WINE64" "$ZYNWATCH" -status >"$out"
echo $? >"$out.exit"
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
expect_eq "BMC: not read - error 258 (no answer in time)" "$(grep '^BMC' "$out" | tr -d '\r')" "a Get the driver never completes"
expect_eq 2 "$(cat "$out.exit")" "exit code 2 when the BMC never answers"
[ "$elapsed_ms" -lt 20000 ] || fail "-status took $elapsed_ms ms with a BMC that never answers"
expect_eq 1 "$(zyntest bmc-release)" "the driver still held the request after -status ended"
expect_eq "06 25" "$(requests_from "$first")" "the held request was Get Watchdog Timer"

# Installed, never started (1077), with an invalid TimeoutValue: shown as the service would repair it, left as it is.
zynwatch_to "$out" "$ZYNWATCH" -install
w64 reg add "HKLM\\$SERVICE_KEY" /v HeartbeatInterval /t REG_DWORD /d 1 /f >/dev/null
w64 reg add "HKLM\\$SERVICE_KEY" /v TimeoutValue /t REG_DWORD /d 5 /f >/dev/null
values=$(zyntest reg-values "$SERVICE_KEY")
run_status
expect_eq "Service: stopped, exit code 1077
Start type: automatic
TimeoutAction: power cycle (3)
TimeoutValue: 3000 s
PreTimeoutAction: none (0)
PreTimeoutInterval: 0 s
HeartbeatInterval: 1 s configured, 1 s in use
ShutdownTimeout: off
BMC timer use: SMS/OS (0x04)
BMC timer: stopped
BMC don't log: no
BMC timeout action: no action (0)
BMC pre-timeout interrupt: none (0)
BMC pre-timeout interval: 0 s
BMC expiration flags: none
BMC initial countdown: 300.0 s
BMC present countdown: 300.0 s
BMC log: empty
BMC last watchdog expiry: none
Protected: no - the service is not running; the BMC's timer is stopped
x" "$(status_text)" "the report of the installed service before its start"
expect_eq 1 "$(cat "$out.exit")" "exit code 1 while the service is stopped"
run_status_json 'j["service"]["state"] == "stopped" and j["service"]["exitCode"] == 1077 and
    j["service"]["startType"] == "automatic" and j["configuration"]["timeoutValue"] == 3000'
expect_eq "$values" "$(zyntest reg-values "$SERVICE_KEY")" "-status repairs nothing"

# Started: protected, the countdown restarted from 300 s by every heartbeat.
w64 reg add "HKLM\\$SERVICE_KEY" /v TimeoutValue /t REG_DWORD /d 300 /f >/dev/null
logged=$(zyntest bmc-log | wc -l)
w64 net start ZynAsrService >/dev/null
wait_for_state 4 10
wait_for_requests $((logged + 4)) 10
run_status heartbeats
expect_match '^Service: running
Start type: automatic
TimeoutAction: power cycle \(3\)
TimeoutValue: 300 s
PreTimeoutAction: none \(0\)
PreTimeoutInterval: 0 s
HeartbeatInterval: 1 s configured, 1 s in use
ShutdownTimeout: off
BMC timer use: SMS/OS \(0x04\)
BMC timer: running
BMC don'"'"'t log: no
BMC timeout action: power cycle \(3\)
BMC pre-timeout interrupt: none \(0\)
BMC pre-timeout interval: 0 s
BMC expiration flags: none
BMC initial countdown: 300\.0 s
BMC present countdown: (2[0-9]{2}\.[0-9]|300\.0) s
BMC log: 1 record
BMC last watchdog expiry: none in its 1 record
Protected: yes
x$' "$(status_text)" "the report of a protected server, whose boot is in the BMC's log"
expect_eq 0 "$(cat "$out.exit")" "exit code 0 when protected"
run_status_json 'j["bmc"]["timerRunning"] and 200 <= j["bmc"]["presentCountdown"] <= 300 and j["reasons"] == []'
run_status_nagios OK '200 <= p["seconds_left"] <= 300 and p["interval"] == 1'
run_status_prometheus 'm["zynwatch_protected"] == 1 and 200 <= m["zynwatch_bmc_countdown_seconds"] <= 300 and
    m["zynwatch_heartbeat_interval_seconds"] == 1 and m["zynwatch_heartbeat_failures_total"] == 0 and
    m["zynwatch_service_start_automatic"] == 1 and m["zynwatch_heartbeats_withheld"] == 0'

# A Group Policy value, applied while the service runs: -status shows it in use and where it came
# from; withdrawn, the service key's value is in use again.
POLICY_KEY='HKLM\SOFTWARE\Policies\Zynvarra\ZynAsrService'
# Runs -status until its report has a line matching $1 (or, with "!", none), for at most 10 s.
wait_for_status_line() {
    local i
    for ((i = 0; i < 20; i++)); do
        zynwatch_to "$out" "$ZYNWATCH" -status
        if [ "${2:-}" = "!" ]; then ! grep -qE "$1" "$out" && return 0; else grep -qE "$1" "$out" && return 0; fi
        sleep 0.5
    done
    wait_failed "-status did not come to show /$1/ ${2:-}: $(status_text)"
}
w64 reg add "$POLICY_KEY" /v HeartbeatInterval /t REG_DWORD /d 2 /f >/dev/null
wait_for_status_line '^Set by Group Policy: HeartbeatInterval'
expect_eq "HeartbeatInterval: 2 s configured, 2 s in use" "$(grep '^HeartbeatInterval' "$out" | tr -d '\r')" \
    "the policy's interval in use"
run_status_json '[v["source"] for v in j["settings"]["values"] if v["name"] == "HeartbeatInterval"] == ["policy"] and
    j["settings"]["inUse"] and j["configuration"]["heartbeatIntervalInUse"] == 2'
w64 reg delete 'HKLM\SOFTWARE\Policies\Zynvarra' /f >/dev/null
wait_for_status_line '^Set by Group Policy' '!'
expect_eq "HeartbeatInterval: 1 s configured, 1 s in use" "$(grep '^HeartbeatInterval' "$out" | tr -d '\r')" \
    "withdrawn, the service key's interval in use"

# The BMC refuses every heartbeat: once the countdown ran down further than the interval in use and
# 10 s, -status says that the heartbeats are not arriving and when the BMC acts, and ends with 3.
zyntest bmc-set command=0x22 cc=0xC0 count=every
sleep 12
run_status heartbeats
expect_match '^Protected: no - heartbeats are not reaching the BMC, which acts in 2[0-9]{2}\.[0-9] s$' \
    "$(grep '^Protected' "$out" | tr -d '\r')" "the verdict of a timer the heartbeats do not reach"
expect_eq 3 "$(cat "$out.exit")" "exit code 3 when the BMC will act"
run_status_json 'j["service"]["state"] == "running" and j["protected"] == "no"'
run_status_nagios CRITICAL 'p["seconds_left"] < 290'
run_status_prometheus 'm["zynwatch_status_exit_code"] == 3 and m["zynwatch_protected"] == 0 and
    m["zynwatch_heartbeat_failures_total"] >= 3 and m["zynwatch_heartbeat_failures_in_a_row"] >= 3'
zyntest bmc-set count=0

w64 net stop ZynAsrService >/dev/null
wait_for_state 1 10

# A metrics file that cannot be written: the reason on standard error, and exit code 4.
w64 "$ZYNWATCH" -status -prometheus 'C:\no such folder\zynwatch.prom' >/dev/null 2>"$out.err"
expect_eq 4 "$?" "exit code 4 when the metrics file is not written"
expect_match '^The metrics file C:\\no such folder\\zynwatch\.prom was not written - ' "$(tr -d '\r' <"$out.err")" \
    "the reason on standard error"
# A drill with the service stopped: its expiry is the BMC's last, and Windows had booted before it
# without shutting down.
zynwatch_to "$WINEPREFIX.drill" "$ZYNWATCH" -drill 10
expect_eq 0 "$(cat "$WINEPREFIX.drill.exit")" "the drill passed: $(tail -n 1 "$WINEPREFIX.drill")"
run_status
expect_eq "BMC log: 2 records" "$(grep '^BMC log' "$out" | tr -d '\r')" "the boot and the drill's expiry"
expect_match '^BMC last watchdog expiry: 20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \(BMC clock\), no action; no graceful shutdown came before it$' \
    "$(grep '^BMC last' "$out" | tr -d '\r')" "the drill's expiry, the boot before it"
run_status_json 'j["sel"]["entries"] == 2 and j["sel"]["lastExpiry"]["action"] == 0 and
    j["sel"]["lastExpiry"]["gracefulShutdownBefore"] is False and j["sel"]["searchedToFirstRecord"] is False'

# -remove wins over -status: the removal alone, with its exit code 0.
zynwatch_to "$out" "$ZYNWATCH" -status -remove
expect_eq "The $DISPLAY_NAME removed.
x" "$(status_text)" "-status -remove removes and reports nothing else"
expect_eq 0 "$(cat "$out.exit")" "exit code 0 of the removal"
