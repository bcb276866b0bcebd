# Driver installation and update answered by the stand-in newdev.dll in the system folder, chosen over
# Wine's own, which reports success and no restart whatever happens.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
scenario_begin device_install_injected

cp "$ZYN_BUILD/bin/fake_newdev/newdev.dll" "$WINEPREFIX/drive_c/windows/system32/newdev.dll"
export ZYN_INF_PATH
ZYN_INF_PATH="$(winpath "$ZYN_PACKAGE/windows/IMB64Drv.INF")"
WINEDLLOVERRIDES="newdev=n;$WINEDLLOVERRIDES" w64 "$ZYN_BUILD/bin/device_install_tests.exe" --gtest_brief=1 \
    --gtest_filter='InjectedNewdev.*' || fail "installation with the stand-in newdev"
