# The staged package's binaries: system DLL imports only, the library's five undecorated
# exports in both builds and a 32-bit caller's imports of them, and the version resources as
# Windows reads them.
source "$(dirname "$0")/../scenarios/scenario.sh"
scenario_begin deliverables

objdump=x86_64-w64-mingw32-objdump
package=$ZYN_PACKAGE
binaries=("$package/setup.exe" "$package/windows/zynvx7w.dll" "$package/windows/zynwatch.exe"
          "$package/windows/SysWOW64/zynvx7w.dll")
system_dlls='^(KERNEL32|ADVAPI32|USER32|SHELL32|SHLWAPI|SETUPAPI|msvcrt|VERSION|ntdll)\.dll$'

# Every program and library imports from KERNEL32 at least, so an empty list means objdump read nothing.
for binary in "${binaries[@]}"; do
    [ -f "$binary" ] || { fail "missing $binary"; continue; }
    dlls=$($objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p')
    expect_match '(^|'$'\n'')KERNEL32\.dll($|'$'\n'')' "$dlls" "$(basename "$binary"): objdump lists its imports"
    while read -r dll; do
        expect_match "$system_dlls" "$dll" "$(basename "$binary") imports only system DLLs"
    done <<< "$dlls"
done

for library in "$package/windows/zynvx7w.dll" "$package/windows/SysWOW64/zynvx7w.dll"; do
    exports=$($objdump -p "$library" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
    expect_eq "CloseVX7Driver GetVX7Version OpenVX7Driver SendVX7Request SendVX7RequestTimed " "$exports" \
        "$library exports exactly the five names, undecorated"
done
# A 32-bit caller binds to what the import library names: a build that stopped undecorating them
# there would leave it importing _Name@N, which the library does not export, and it would not start.
caller32=$ZYN_BUILD/win32/bin/library_tests.exe
imports=$($objdump -p "$caller32" | sed -n '/^\s*DLL Name: zynvx7w\.dll$/,/^$/p' | sed -n 's/^\s*[0-9a-f]\+\s\+[0-9]\+\s\+//p' | sort | tr '\n' ' ')
expect_eq "CloseVX7Driver GetVX7Version OpenVX7Driver SendVX7Request SendVX7RequestTimed " "$imports" \
    "the 32-bit caller $(basename "$caller32") imports exactly the five names from zynvx7w.dll, undecorated"
expect_match 'i386' "$($objdump -f "$package/windows/SysWOW64/zynvx7w.dll")" "the SysWOW64 library is 32-bit"
expect_match 'x86-64' "$($objdump -f "$package/windows/zynvx7w.dll")" "the windows library is 64-bit"

versions=$(w64 "$ZYN_BUILD/bin/version_probe.exe" "$(winpath "$package/setup.exe")" \
    "$(winpath "$package/windows/zynwatch.exe")" "$(winpath "$package/windows/zynvx7w.dll")" \
    "$(winpath "$package/windows/SysWOW64/zynvx7w.dll")" | tr -d '\r')
expect_match 'setup.exe file=1\.19\.6\.0 product=1\.19\.6\.0' "$versions" "setup's version resource"
expect_match 'zynwatch.exe file=1\.6\.0\.0 product=1\.6\.0\.0' "$versions" "zynwatch's version resource"
expect_match 'windows\\zynvx7w.dll file=1\.5\.5\.0 product=1\.5\.5\.0' "$versions" "the 64-bit library's version resource"
expect_match 'SysWOW64\\zynvx7w.dll file=1\.5\.5\.0 product=1\.5\.5\.0' "$versions" "the 32-bit library's version resource"

# Windows 7 and Server 2008 R2 without the loader update lack the DLL-directory functions: an
# import of one would keep the program from starting at all.
for binary in "${binaries[@]}"; do
    imports=$($objdump -p "$binary" | sed -n '/^\s*DLL Name:/,/^$/p')
    expect_match '\<GetLastError\>' "$imports" "$(basename "$binary"): objdump lists the imported functions"
    expect_no_match '(SetDefaultDllDirectories|AddDllDirectory|RemoveDllDirectory|SetDllDirectory)' \
        "$imports" "$(basename "$binary") imports no DLL-directory function"
done

# The manifests as the loader finds them: exactly one in each program (no toolchain default beside
# it), the execution level, and every Windows from 7 and Server 2008 R2 on.
supported_os='{1f676c76-80e1-4239-95bb-83d0f6d0da78} {35138b9a-5d96-4fbd-8e2d-a2440225f93a} {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38} {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a} '
for entry in setup.exe:requireAdministrator windows/zynwatch.exe:asInvoker; do
    program=${entry%%:*}
    manifest=$(w64 "$ZYN_BUILD/bin/version_probe.exe" -manifest "$(winpath "$package/$program")" | tr -d '\r')
    expect_match 'manifests=1$' "$(head -n 1 <<<"$manifest")" "$program carries one manifest"
    expect_eq "level=\"${entry#*:}\" uiAccess=\"false\"" \
        "$(grep -o '<requestedExecutionLevel [^/>]*' <<<"$manifest" | sed 's/^<requestedExecutionLevel //; s/ *$//')" \
        "$program's execution level"
    expect_eq "$supported_os" "$(grep -o 'supportedOS Id="{[^}]*}"' <<<"$manifest" | sed 's/^supportedOS Id="//; s/"$//' | sort | tr '\n' ' ')" \
        "$program's supported systems"
done
