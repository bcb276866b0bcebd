#include "driver_removal.h"

#include <setupapi.h>
#include <string.h>

#include "../common/guards.h"
#include "console.h"
#include "file_deployment.h"
#include "hardware_ids.h"
#include "setup_codes.h"
#include "setup_paths.h"

// Fixed: removal finds the driver's nodes without reading the INF.
const char kDriverHardwareId[] = "*ZYN7310";
const char kDriverServiceKey[MAX_PATH] = "SYSTEM\\CurrentControlSet\\Services\\imbdrv";
const char kDriverEnumKey[MAX_PATH] = "SYSTEM\\CurrentControlSet\\Enum\\ACPI\\ZYN7310";
const DWORD kSubkeyNameSize = MAX_PATH;
const size_t kMostDriverPackages = 4;

// The driver store's packages of the removed devices, by the names of Windows' copies of their INFs.
struct DriverPackages {
    char names[kMostDriverPackages][MAX_PATH];
    size_t count;
};

static bool CarriesDriverId(const HardwareIdList &list)
{
    size_t position = 0;
    MultiStringEntry entry;
    while (NextHardwareId(list, &position, &entry)) {
        if (HardwareIdEqualsIgnoringCase(entry, kDriverHardwareId)) return true;
    }
    return false;
}

// Windows names its copy of a maker's INF oem<N>.inf; no other INF is ever taken out of the store.
static bool IsOemInfName(const char *name, size_t length)
{
    return length > 7 && _strnicmp(name, "oem", 3) == 0 && _stricmp(name + length - 4, ".inf") == 0 &&
           strpbrk(name, "\\/:") == nullptr;
}

static bool Noted(const DriverPackages &packages, const char *name)
{
    for (size_t i = 0; i < packages.count; ++i) {
        if (_stricmp(packages.names[i], name) == 0) return true;
    }
    return false;
}

// The INF the device's driver came from, as its driver key names it, read before the device goes.
static void NoteDriverPackage(HDEVINFO set, SP_DEVINFO_DATA *device, DriverPackages *packages)
{
    if (packages->count == kMostDriverPackages) return;
    HKEY opened = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (opened == INVALID_HANDLE_VALUE) return;
    UniqueRegistryKey key(opened);
    char name[MAX_PATH];
    DWORD type = REG_NONE, size = sizeof(name) - 1;
    LONG error = RegQueryValueExA(key.Get(), "InfPath", nullptr, &type, reinterpret_cast<BYTE *>(name), &size);
    if (error != ERROR_SUCCESS || type != REG_SZ) return;
    name[size] = '\0';
    if (!IsOemInfName(name, strlen(name)) || Noted(*packages, name)) return;
    memcpy(packages->names[packages->count++], name, strlen(name) + 1);
}

// Out of the driver store as well: otherwise Windows installs the driver again for the BMC's node
// that the firmware enumerates at the next boot. Forced, since a node whose removal waits for the
// restart still names the package.
static void RemoveDriverPackages(const DriverPackages &packages)
{
    for (size_t i = 0; i < packages.count; ++i) {
        if (!SetupUninstallOEMInfA(packages.names[i], SUOI_FORCEDELETE, nullptr)) ReportFailure("SetupUninstallOEMInf");
    }
}

// Both removals are attempted; either failing is traced and the device still counts as found.
static void RemoveDevice(HDEVINFO set, SP_DEVINFO_DATA *device)
{
    if (!SetupDiCallClassInstaller(DIF_REMOVE, set, device)) ReportFailure("CallClassInstaller(REMOVE)");
    if (!SetupDiRemoveDevice(set, device)) ReportFailure("CallRemoveDevice(remove)");
}

// Removes every device that carries the identifier, noting its driver package; false when a
// property read failed hard.
static bool RemoveMatchingDevices(HDEVINFO set, bool *found, DriverPackages *packages)
{
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        HardwareIdList list;
        HardwareIdRead read = ReadHardwareIds(set, &device, &list);
        if (read == kHardwareIdReadFailed) {
            ReportFailure("GetDeviceRegistryProperty");
            return false;
        }
        if (read == kHardwareIdsRead && CarriesDriverId(list)) {
            NoteDriverPackage(set, &device, packages);
            RemoveDevice(set, &device);
            *found = true;
        }
    }
    return true;
}

int RemoveDriver()
{
    HDEVINFO present = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (present == INVALID_HANDLE_VALUE) return ReportFailure("GetClassDevs(All Present Devices)");
    UniqueDeviceInfoSet set(present);
    bool found = false;
    DriverPackages packages = {};
    if (RemoveMatchingDevices(set.Get(), &found, &packages)) {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kDriverServiceKey);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kDriverEnumKey);
    }
    RemoveDriverPackages(packages);
    return found ? 0 : 1;
}

static bool DeleteTree(HKEY parent, const char *subkey);

// Deleting a subkey moves the following ones down, so the walk stays on a position it emptied
// and moves past a subkey that stayed.
static void DeleteSubkeys(HKEY key)
{
    DWORD index = 0;
    for (;;) {
        char name[kSubkeyNameSize];
        DWORD length = kSubkeyNameSize;
        LONG error = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_MORE_DATA) {
            ++index;  // a name too long for the buffer cannot be deleted by name
            continue;
        }
        if (error != ERROR_SUCCESS) return;
        if (!DeleteTree(key, name)) ++index;
    }
}

// True when the subkey and everything below it are gone.
static bool DeleteTree(HKEY parent, const char *subkey)
{
    HKEY opened;
    if (RegOpenKeyExA(parent, subkey, 0, MAXIMUM_ALLOWED, &opened) != ERROR_SUCCESS) return false;
    UniqueRegistryKey key(opened);
    DeleteSubkeys(key.Get());
    key.Close();
    return RegDeleteKeyA(parent, subkey) == ERROR_SUCCESS;
}

int DeleteRegistryTree(HKEY parent, const char *subkey)
{
    if (subkey == nullptr || subkey[0] == '\0') return 0;
    DeleteTree(parent, subkey);
    return 1;
}

// The message for a driver that was not removed, by the output mode's bits.
static void ReportNotRemoved(BYTE mode, const char *message)
{
    if (mode & MODE_INTERACTIVE) {
        ConsoleLine(message);
        ConsolePrint("Press any key to continue...");
        ReadKey();
        ConsolePrint("\n");
    } else if (mode & MODE_QUIET) {
        ConsoleLine(message);
    }
}

int UninstallDriver(BYTE mode)
{
    int removed = RemoveDriver();
    if (removed == -1) {
        ReportNotRemoved(mode, "Fail: Unable to remove current driver!");
        return kExitFailed;
    }
    if (removed == 1) {
        ReportNotRemoved(mode, "Unable to find the driver to remove!\n");
        return kExitFailed;
    }
    ClearReadOnly(g_setupPaths.installedDriver);
    DeleteFileA(g_setupPaths.installedDriver);
    if (!FileExists(g_setupPaths.installedLibrary)) return 0;
    ClearReadOnly(g_setupPaths.installedLibrary);
    return DeleteFileA(g_setupPaths.installedLibrary) ? 0 : -1;
}
