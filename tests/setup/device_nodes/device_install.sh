# The package's driver installed on a new root-enumerated node through Wine's own newdev, back after
# the prefix restarts, updated on that node, then removed, in a clean prefix. The installer's trace
# lines reach the debugger channel in order.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
scenario_begin device_install

export ZYN_INF_PATH
ZYN_INF_PATH="$(winpath "$ZYN_PACKAGE/windows/IMB64Drv.INF")"
tests="$ZYN_BUILD/bin/device_install_tests.exe"
trace="$WINEPREFIX.trace"

# OutputDebugStringA texts of the run, as Wine's debugstr channel quotes them.
debug_strings() { tr -d '\r' < "$trace" | sed -n 's/^[0-9a-f]*:warn:debugstr:OutputDebugStringA "\(.*\)"$/\1/p'; }

WINEDEBUG=-all,warn+debugstr w64 "$tests" --gtest_brief=1 --gtest_filter=RealDriver.NewNodeGetsTheDriverAndItAnswers \
    2>"$trace" || fail "installation on a new node"
expect_eq '********* Start CreateNewDevice() *********\n
******* Start CreateNewDevice() ********\n
*********** Start CleanDEviceInfo **********\n
Driver installed successfully!\n' "$(debug_strings | head -n 4)" "installation trace on the debugger channel"
expect_match '^state=4 ' "$(zyntest service-status imbdrv)" "the driver's service runs"
[ -f "$WINEPREFIX/drive_c/windows/system32/drivers/imbdrv.sys" ] || fail "the driver file was copied"

"$ZYN_SOURCE/scripts/testbed" restart "$WINEPREFIX"
w64 "$tests" --gtest_brief=1 --gtest_filter=RealDriver.ExistingNodeIsFoundAndUpdated || fail "update after a restart"
w64 "$tests" --gtest_brief=1 --gtest_filter=RealDriver.RemovalTakesTheNodeAndTheDevice || fail "removal"
rm -f "$trace"
