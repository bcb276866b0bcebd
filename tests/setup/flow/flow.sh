# Sourced by the installer's flow scenarios, after tests/scenarios/scenario.sh: setup.exe from the
# staged package, run by a script (standard input not a console) or by a user in a terminal.

# Windows refuses to overwrite or delete a read-only file, administrators included. Wine keeps the
# attribute as missing write permission, which root passes by; without CAP_DAC_OVERRIDE it holds,
# so the scenario runs without it, as Windows would treat the installer.
if [ "$(id -u)" = 0 ] && [ -z "${ZYN_FLOW_WITHOUT_OVERRIDE:-}" ]; then
    export ZYN_FLOW_WITHOUT_OVERRIDE=1
    exec setpriv --inh-caps=-dac_override --bounding-set=-dac_override bash "$0" "$@"
fi

SETUP_EXE="$ZYN_PACKAGE/setup.exe"
SETUP_IN_TERMINAL_PREFIX=""  # set by flow_begin
DISPLAY_NAME="DuraRavuviZerovod Service"
SERVICE_KEY='System\CurrentControlSet\Services\ZynAsrService'
DRIVER_KEY='SYSTEM\CurrentControlSet\Services\imbdrv'
ACPI_KEY='SYSTEM\CurrentControlSet\Enum\ACPI\ZYN7310'
BANNER='=====================================================================
BMC Device Driver & VX7 API Library 64bit Installer
Version: 1.19                         Nov/1/2007
Copyright (C) 2007-2026 Zynvarra Systems. All rights reserved.
====================================================================='
RESTART_NOTICE='
You need to restart your computer before the changes
your made to this device will take affect.'
# Wine's text for error 1073; Windows says "The specified service already exists."
SERVICE_EXISTS='ASR Service Exist - Service exists. (0x431)'
# As a terminal shows it: without the blank that ends its first line.
AUTO_REBOOT_PROMPT='<E>nable/<D>isable/<N>o:'
AUTO_REBOOT_QUESTION='Would you like to change AutoReboot option under
  Windows [Startup and Recovery] panel?'

flow_begin() {
    scenario_begin "$1"
    SYSTEM32="$WINEPREFIX/drive_c/windows/system32"
    LIBRARY="$SYSTEM32/zynvx7w.dll"
    LIBRARY32="$WINEPREFIX/drive_c/windows/syswow64/zynvx7w.dll"
    SERVICE_PROGRAM="$SYSTEM32/zynwatch.exe"
    DRIVER_FILE="$SYSTEM32/drivers/imbdrv.sys"
    SETUP_IN_TERMINAL_PREFIX="WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES' $WINE64 '$SETUP_EXE'"
}

# As a deployment script runs it: no console input. Output in OUT (no carriage returns), code in CODE.
run_setup() {
    OUT=$(timeout 120 "$WINE64" "$SETUP_EXE" "$@" </dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}")
    CODE=$?
}

# As a user runs it in a terminal: session name, then the options.
setup_in_terminal() { local session=$1; shift; tmux_start "$session" "$SETUP_IN_TERMINAL_PREFIX $*"; }
# The terminal's text up to its last non-empty line.
terminal_text() { tmux_screen "$1" | awk '{ line[NR] = $0 } NF { last = NR } END { for (i = 1; i <= last; i++) print line[i] }'; }
# Waits until the question is on the screen (the given number of times), then answers it with one key.
answer() { tmux_wait_for "$1" "$2" 120 "${4:-1}" && tmux_keys "$1" "$3"; } # session regex key [times]

# A file that an earlier installation left behind, read-only.
plant_read_only() { cp "$1" "$2" && chmod a-w "$2"; }

expect_same_file() { cmp -s "$1" "$2" || fail "$3: $(basename "$2") differs from $1"; }
expect_present() { local file; for file in "$@"; do [ -e "$file" ] || fail "$file is missing"; done; }
expect_absent() { local file; for file in "$@"; do [ -e "$file" ] && fail "$file is still there"; done; return 0; }

# Both libraries and the service program as the package carries them.
expect_files_installed() {
    expect_same_file "$ZYN_PACKAGE/windows/zynvx7w.dll" "$LIBRARY" "$1"
    expect_same_file "$ZYN_PACKAGE/windows/SysWOW64/zynvx7w.dll" "$LIBRARY32" "$1"
    expect_same_file "$ZYN_PACKAGE/windows/zynwatch.exe" "$SERVICE_PROGRAM" "$1"
}

# Registered for manual start with the installer's configuration. Wine lists a key's values sorted by
# name, so their order is proven where they are written (tests/setup/service_registration).
expect_service_registered() {
    expect_eq "type=0x10 start=3 error=1 path=C:\\windows\\system32\\zynwatch.exe display=$DISPLAY_NAME account=LocalSystem" \
        "$(zyntest service-config ZynAsrService)" "$1: the service's record"
    expect_eq "HeartbeatInterval=45 PreTimeoutAction=0 PreTimeoutInterval=0 TimeoutAction=3 TimeoutValue=300" \
        "$(zyntest reg-values "$SERVICE_KEY" | sed -n 's/^\([A-Za-z]*\) type=4 size=4 dword=\([0-9]*\)$/\1=\2/p' |
            grep -E '^(HeartbeatInterval|PreTimeoutAction|PreTimeoutInterval|TimeoutAction|TimeoutValue)=' | paste -sd ' ')" \
        "$1: the watchdog configuration"
    expect_match '(^|'$'\n'')Description type=1 size=361 ' "$(zyntest reg-values "$SERVICE_KEY")" "$1: the description"
}

# Present device nodes that carry the BMC's identifier, in any letter case.
bmc_nodes() { zyntest nodes '*ZYN7310'; }
# Get Device ID requests the simulated BMC has answered so far.
device_id_requests() { zyntest bmc-log | grep -cE 'packet=([0-9A-F]{2} ){9}01 06 ' || true; }
