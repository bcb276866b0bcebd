# Installer faults that the machine brings, on one machine: a device node that cannot be read, read-only
# files of an earlier installation, a file that is no library in the library's place, no
# C:\windows\SysWOW64 folder, and installed files that another program holds open without sharing
# them, at the new device, the update and the uninstallation. Each case ends with the flow's exit code
# and leaves only what the flow defines; the comment above each case lists it.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
source "$ZYN_SOURCE/tests/setup/flow/flow.sh"
source "$ZYN_SOURCE/tests/setup/faults/faults.sh"
flow_begin setup_faults_prepared_machine

w64 reg add "HKLM\\$AUTO_REBOOT_KEY" /v AutoReboot /t REG_DWORD /d 2 /f >/dev/null
SYSWOW64="$WINEPREFIX/drive_c/windows/syswow64"
INSTALLED="library=packaged library32=packaged program=packaged driver=packaged nodes=1 instances=1 imbdrv=present acpi=absent service=registered autoreboot=2"

# A device node whose identifier list cannot be read (Wine answers an empty value as a buffer too small
# at size 0, which the search takes as a failed read; Windows' answer for such a value is not known
# here): the search fails before anything is touched, 2 in every mode, with the key waits only at the
# keyboard; detection finds no hardware. Leaves nothing but that node, which then goes.
step unreadable-node
broken=$(zyntest node-add 'ZYNTEST\UNREADABLE') || fail "a node"
broken_key="HKLM\\System\\CurrentControlSet\\Enum\\$broken"
w64 reg add "$broken_key" /v HardwareID /t REG_BINARY /f >/dev/null
run_setup -n
expect_eq "" "$OUT" "-n, search fails"
expect_eq 2 "$CODE" "-n, search fails"
SEARCH_FAILED="$BANNER
Fail: Fatal error occurred when looking for existing devices!"
run_setup -q
expect_eq "$SEARCH_FAILED"$'\n\nTerminated by user or failed to install driver.' "$OUT" "-q, search fails"
expect_eq 2 "$CODE" "-q, search fails"
setup_in_terminal search
answer search 'Press any key to continue\.\.\.$' x
answer search 'Press any key to exit \.\.\.$' x
tmux_wait_for search '\[exit' 120
expect_eq "$SEARCH_FAILED
Press any key to continue...

Terminated by user or failed to install driver.
Press any key to exit ...
[exit 2]" "$(terminal_text search)" "interactive, search fails"
run_setup -h -n
expect_eq 8 "$CODE" "-h -n, search fails"
expect_machine "library=absent library32=absent program=absent driver=absent nodes=0 instances=1 imbdrv=absent acpi=absent service=absent autoreboot=2" \
    "search fails"
w64 reg delete "$broken_key" /f >/dev/null || fail "the unreadable node goes"

# Read-only files of an earlier installation, the driver file among them, on a machine without the
# device: each is made writable and replaced, 0. Leaves the whole installation.
step read-only-files
for file in "$LIBRARY" "$LIBRARY32" "$SERVICE_PROGRAM" "$DRIVER_FILE"; do
    echo "an earlier installation's file" > "$file"
    chmod a-w "$file"
done
run_setup -n
expect_eq 0 "$CODE" "-n over read-only files"
expect_machine "$INSTALLED" "-n over read-only files"

# A file that is no library in the installed library's place: the version check at the keyboard
# cannot load it, 2. Leaves the installation with that file.
step no-library-in-its-place
echo "not a library" > "$LIBRARY"
setup_in_terminal nolibrary
answer nolibrary 'Press any key to exit \.\.\.$' x
tmux_wait_for nolibrary '\[exit' 120
expect_eq "$BANNER
Found existing device...
Fail: Unable to load zynvx7w.dll file!

Terminated by user or failed to install driver.
Press any key to exit ...
[exit 2]" "$(terminal_text nolibrary)" "interactive, installed library unloadable"
expect_machine "${INSTALLED/library=packaged/library=other}" "installed library unloadable"

# No SysWOW64 folder: the 32-bit library's copy fails and is reported, and the folder is not created;
# the update ends with 0. Leaves the installation without the 32-bit library. Without the folder the
# uninstallation has no 32-bit library to remove and ends with 1; it leaves the driver file only
# (Wine keeps the driver loaded without its device, so the file cannot go; Windows unloads it).
step no-syswow64
mv "$SYSWOW64" "$SYSWOW64.away"
run_setup -q
expect_eq "$BANNER
Found existing device...
Ready to overwrite...
Update driver successfully!
Detect BMC device ...Available!
Update VX7API library successfully!
Faile: Unable to copy 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll!
$SERVICE_EXISTS" "$OUT" "-q without a SysWOW64 folder"
expect_eq 0 "$CODE" "-q without a SysWOW64 folder"
expect_absent "$SYSWOW64"
expect_machine "${INSTALLED/library32=packaged/library32=absent}" "-q without a SysWOW64 folder"
run_setup -u -q
expect_eq "$BANNER
Current driver be removed successfully!
$DISPLAY_NAME removed.
$RESTART_NOTICE" "$OUT" "-u -q without a SysWOW64 folder"
expect_eq 1 "$CODE" "-u -q without a SysWOW64 folder"
expect_absent "$SYSWOW64"
# The folder comes back as the machine had it, without the earlier installation's 32-bit library.
step syswow64-back
rm "$SYSWOW64.away/zynvx7w.dll"
mv "$SYSWOW64.away" "$SYSWOW64"
AFTER_UNINSTALL="library=absent library32=absent program=absent driver=packaged nodes=0 instances=0 imbdrv=absent acpi=absent service=absent autoreboot=2"
expect_machine "$AFTER_UNINSTALL" "-u -q without a SysWOW64 folder"

# A new device while another program holds an earlier library: the library copy fails after the driver
# went in, 2; the new-device branch prints in every mode. Leaves the driver with its node and keys, and
# the held library as it was; no 32-bit library, no service. A later run takes the update branch.
step new-device-library-held
echo "an earlier library" > "$LIBRARY"
hold_file 'C:\windows\system32\zynvx7w.dll'
run_setup -n
expect_eq $'Installing driver...\nInstall Driver Successfully!\nFail: Unable to copy DLL file!\nPress any key to continue...' \
    "$OUT" "-n, new device, library held"
expect_eq 2 "$CODE" "-n, new device, library held"
HALF="library=other library32=absent program=absent driver=packaged nodes=1 instances=1 imbdrv=present acpi=absent service=absent autoreboot=2"
expect_machine "$HALF" "-n, new device, library held"

# The update while the library is still held: 2 after the driver update. Leaves the same.
step update-library-held
run_setup -q
expect_eq "$BANNER
Found existing device...
Ready to overwrite...
Update driver successfully!
Fail: Unable to copy zynvx7.dll file!

Terminated by user or failed to install driver." "$OUT" "-q, update, library held"
expect_eq 2 "$CODE" "-q, update, library held"
expect_machine "$HALF" "-q, update, library held"
release_files

# The update while the service program and the 32-bit library of an earlier installation are held:
# the 32-bit failure is reported, and so is the service program's, which ends the run with 2: no
# deployment tool may count a server without its service as installed. Leaves the installation with
# both held files as they were and no service registered.
step update-program-held
SHARING_VIOLATION_TEXT='Sharing violation. (0x20)'  # Wine's text for ERROR_SHARING_VIOLATION
echo "an earlier service program" > "$SERVICE_PROGRAM"
echo "an earlier 32-bit library" > "$LIBRARY32"
hold_file 'C:\windows\system32\zynwatch.exe'
hold_file 'C:\windows\SysWOW64\zynvx7w.dll'
run_setup -q
expect_eq "$BANNER
Found existing device...
Ready to overwrite...
Update driver successfully!
Detect BMC device ...Available!
Update VX7API library successfully!
Faile: Unable to copy 32bit library C:\\windows\\SysWOW64\\zynvx7w.dll!
Fail: Unable to copy zynwatch.exe to C:\\windows\\system32\\zynwatch.exe - $SHARING_VIOLATION_TEXT

Terminated by user or failed to install driver." "$OUT" "-q, update, service program and 32-bit library held"
expect_eq 2 "$CODE" "-q, update, service program and 32-bit library held"
expect_machine "library=packaged library32=other program=other driver=packaged nodes=1 instances=1 imbdrv=present acpi=absent service=absent autoreboot=2" \
    "-q, update, service program and 32-bit library held"
release_files

# The uninstallation while the library is held: its failure is printed even with -n, 1. Leaves the
# held library and the driver file (Wine, as above).
step uninstall-library-held
run_setup -n
expect_machine "$INSTALLED" "-n once nothing is held"
hold_file 'C:\windows\system32\zynvx7w.dll'
run_setup -u -n
expect_eq "Fail: Unable to remove zynvx7w.dll!" "$OUT" "-u -n, library held"
expect_eq 1 "$CODE" "-u -n, library held"
expect_machine "${AFTER_UNINSTALL/library=absent/library=packaged}" "-u -n, library held"
release_files
