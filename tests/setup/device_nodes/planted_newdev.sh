# setup started from a download folder that also holds a newdev.dll, with Wine told to prefer a native
# newdev.dll: the planted one (the stand-in, which would log its load and fail the installation) is
# never loaded, and the driver is installed through the system's. That Wine would otherwise take the
# planted file is shown by newdev_loader_tests.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
scenario_begin planted_newdev

download="$WINEPREFIX/drive_c/users/Public/Downloads/package"
mkdir -p "$download"
cp -r "$ZYN_PACKAGE/." "$download/"
cp "$ZYN_BUILD/bin/fake_newdev/newdev.dll" "$download/newdev.dll"
export ZYN_FAKE_NEWDEV_LOG='C:\planted-newdev.log' ZYN_FAKE_NEWDEV=fail=0xE0000203

(cd "$download" && WINEDLLOVERRIDES="newdev=n,b;$WINEDLLOVERRIDES" w64 setup.exe -n </dev/null >/dev/null)
expect_eq 0 "$?" "silent installation from the download folder"
[ -e "$WINEPREFIX/drive_c/planted-newdev.log" ] && fail "the planted newdev.dll was loaded: $(cat "$WINEPREFIX/drive_c/planted-newdev.log")"
expect_match '^state=4 ' "$(zyntest service-status imbdrv)" "the driver was installed through the system's newdev"
expect_match '^opens=' "$(zyntest bmc-counters)" "\\\\.\\imb answers"
