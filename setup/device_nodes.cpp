#include "device_nodes.h"

#include <cfgmgr32.h>
#include <newdev.h>
#include <string.h>

#include <memory>
#include <new>

#include "console.h"
#include "driver_package.h"
#include "hardware_ids.h"
#include "newdev_loader.h"

// wvsprintfA writes at most 1024 characters; a longer entry is traced cut, never read beyond its end.
const size_t kTracedEntryLimit = 960;

int CleanDeviceInfo(HDEVINFO set)
{
    DiagnosticLine("*********** Start CleanDEviceInfo **********\n");
    DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    SetLastError(error);
    return 0;
}

static void TraceEntry(const MultiStringEntry &entry)
{
    char text[kTracedEntryLimit + 1];
    size_t shown = entry.length < kTracedEntryLimit ? entry.length : kTracedEntryLimit;
    memcpy(text, entry.text, shown);
    text[shown] = '\0';
    DiagnosticPrint("*p=%s     p=%x    lstrlen(p)=%d\n", text,
                    static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry.text)), static_cast<int>(entry.length));
}

// Traces each entry up to the first that equals the identifier exactly.
static bool ListCarries(const HardwareIdList &list, const char *hardwareId)
{
    size_t position = 0;
    MultiStringEntry entry;
    while (NextHardwareId(list, &position, &entry)) {
        TraceEntry(entry);
        if (EntryEquals(entry, hardwareId)) {
            DiagnosticLine("Found exist device!!\n");
            return true;
        }
    }
    return false;
}

// 1 found, 0 not found, -1 a property read failed.
static int SearchDevices(HDEVINFO set, const char *hardwareId)
{
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        HardwareIdList list;
        HardwareIdRead read = ReadHardwareIds(set, &device, &list);
        if (read == kHardwareIdReadFailed) return -1;
        if (read == kHardwareIdsRead && ListCarries(list, hardwareId)) return 1;
    }
    return 0;
}

int FindInExistDevice(const char *hardwareId)
{
    DiagnosticLine("******* Start FindInExistDevice() ********\n");
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        DiagnosticLine("SetupDiGetClassDevs fail...\n");
        return -1;
    }
    DiagnosticLine("Enumerate through all devices.\n");
    int result = SearchDevices(set, hardwareId);
    if (result != -1) DiagnosticLine("******* End of FindInExistDevice() ********\n");
    CleanDeviceInfo(set);
    return result;
}

int UpdateExistingDriver(BOOL *rebootRequired)
{
    DiagnosticLine("******** Start UpdateExistingDriver() ******\n");
    if (!UpdateDriverForDevices(g_driverPackage.hardwareId, g_driverPackage.infPath, INSTALLFLAG_FORCE,
                                rebootRequired)) {
        DiagnosticLine("Update fail...\n");
        return 0;
    }
    DiagnosticLine("Update driver successful!\n");
    return 1;
}

int InstallRootEnumeratedDriver(BOOL *rebootRequired)
{
    DiagnosticLine("********* Start CreateNewDevice() *********\n");
    if (!CreateNewDevice(g_driverPackage.hardwareId, g_driverPackage.infPath, rebootRequired)) {
        DiagnosticLine("Driver Install failed....\n");
        ReportFailure("InstallRootEnumeratedDriver");
        return 0;
    }
    DiagnosticLine("Driver installed successfully!\n");
    return 1;
}

// The identifier as a one-entry list: the identifier, its terminator and the list's.
static BOOL SetHardwareId(HDEVINFO set, SP_DEVINFO_DATA *device, const char *hardwareId)
{
    size_t length = strlen(hardwareId);
    std::unique_ptr<char[]> list(new (std::nothrow) char[length + 2]);
    if (!list) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    memcpy(list.get(), hardwareId, length);
    list[length] = '\0';
    list[length + 1] = '\0';
    return SetupDiSetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, reinterpret_cast<BYTE *>(list.get()),
                                             static_cast<DWORD>(length + 2));
}

// The node's removal after a failed installation; the installation's error stays the thread's last error.
static void RemoveNewNode(HDEVINFO set, SP_DEVINFO_DATA *device)
{
    DWORD error = GetLastError();
    if (!SetupDiCallClassInstaller(DIF_REMOVE, set, device)) {
        DiagnosticLine("Remove added hardware ID from registry...\n");
    }
    SetLastError(error);
}

// Creates, describes and registers a node in the set and installs the driver on it; 1 or 0.
static int InstallOnNewNode(HDEVINFO set, const GUID *classGuid, const char *className, const char *hardwareId,
                            const char *infPath, BOOL *rebootRequired)
{
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (!SetupDiCreateDeviceInfoA(set, className, classGuid, nullptr, nullptr, DICD_GENERATE_ID, &device)) {
        DiagnosticLine("Create elements failed\n");
        return 0;
    }
    if (!SetHardwareId(set, &device, hardwareId)) {
        DiagnosticLine("Add Hardware ID to registry failed.\n");
        return 0;
    }
    if (!SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
        DiagnosticLine("Transfer registry into actual devnode failed.\n");
        return 0;
    }
    if (UpdateDriverForDevices(hardwareId, infPath, INSTALLFLAG_FORCE, rebootRequired)) return 1;
    DiagnosticLine("UpdateDriverForPlugAndPlayDevice failed.\n");
    RemoveNewNode(set, &device);
    return 0;
}

int CreateNewDevice(const char *hardwareId, const char *infPath, BOOL *rebootRequired)
{
    DiagnosticLine("******* Start CreateNewDevice() ********\n");
    GUID classGuid;
    char className[MAX_CLASS_NAME_LEN];
    if (!SetupDiGetINFClassA(infPath, &classGuid, className, sizeof(className), nullptr)) {
        DiagnosticLine("Extra class GUID failed\n");
        return 0;
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        DiagnosticLine("Create container failed\n");
        return 0;
    }
    int result = InstallOnNewNode(set, &classGuid, className, hardwareId, infPath, rebootRequired);
    CleanDeviceInfo(set);
    return result;
}
