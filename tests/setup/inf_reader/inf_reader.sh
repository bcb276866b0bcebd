# The INF reader's trace lines reach the debugger output (Wine's warn:debugstr channel), in order,
# and nothing of them reaches the console.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
scenario_begin setup_inf_reader

PACKAGE="$WINEPREFIX/drive_c/package"
mkdir -p "$PACKAGE/windows"
cp "$ZYN_BUILD/bin/setup_probe.exe" "$PACKAGE/"
cp "$ZYN_SOURCE/package/IMB64Drv.INF" "$PACKAGE/windows/IMB64Drv.INF"

# Runs DoInit on the INF; its console output in $console, its trace lines (as Wine escapes them) in $trace.
read_inf() {
    local errors="$WINEPREFIX/debugstr.txt"
    console=$(WINEDEBUG=-all,warn+debugstr "$WINE64" 'C:\package\setup_probe.exe' doinit "$1" </dev/null 2>"$errors" | tr -d '\r')
    trace=$(sed -n 's/^[0-9a-f]*:warn:debugstr:OutputDebugStringA "\(.*\)"$/\1/p' "$errors")
}

field() { printf '%s\n' '**************** Start GetField() ***********\n' " GetStringField() sucessed= $1\\n" \
    '------------- End of GetField() -----------\n'; }

read_inf 'C:\package\windows\IMB64Drv.INF'
expect_eq "result=1 hardwareId=*ZYN7310" "$console" "the console shows only the probe's own line"
expected=$(
    printf '%s\n' '********** DoInit() ************\n' 'FindFirstFile successful!\n' 'Open INF file successful!\n' \
        '********\tEnumManufacturers()\t*********\n'
    field 'Zynvarra Systems'
    field 'ImbModels'
    printf '%s\n' 'Get INF file field success!\n'
    field 'NTamd64'
    printf '%s\n' '************** Start EnumDevice *********\n' 'Find Device name successful!\n'
    field 'IPMI BMC Interface (IMB)'
    field 'ACPI\\ZYN7310'
    printf '%s\n' 'Get Device ID= ACPI\\ZYN7310    nfield=2\n'
    field '*ZYN7310'
    printf '%s\n' 'Get Device ID= *ZYN7310    nfield=3\n' '----------- End of EnumDevice() -----------\n' \
        '-------- end of EnumManufacturers() -------\n' '------------ End of DoInit -----------\n'
)
expect_eq "$expected" "$trace" "the package INF's trace, line by line"

read_inf 'C:\package\windows\ABSENT.INF'
expect_eq "result=0 hardwareId=" "$console" "no file"
expect_eq '********** DoInit() ************\n
FindFirstFile failed..\n' "$trace" "the missing file's trace"

cp "$ZYN_SOURCE/tests/setup/inf_reader/data/no_manufacturer.inf" "$PACKAGE/windows/"
read_inf 'C:\package\windows\no_manufacturer.inf'
expect_eq "result=0 hardwareId=" "$console" "no Manufacturer section"
expect_eq 'SetupFindFirstLine() is failed..\n
EnumManufactures FAILURE: (0xe0000102)\n
------------ End of DoInit -----------\n' "$(tail -n 3 <<< "$trace")" "the failure trace with SetupAPI's code"
