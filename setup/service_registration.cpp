#include "service_registration.h"

#include <stdio.h>
#include <string.h>

#include "../common/guards.h"
#include "../common/last_error_text.h"
#include "../common/service_event_source.h"
#include "../common/service_recovery.h"
#include "../common/service_identity.h"
#include "console.h"
#include "bmc_watchdog_stop.h"
#include "service_stop.h"
#include "setup_codes.h"

const DWORD kServiceKeyAccess = KEY_READ | KEY_WRITE;  // 0x2001F
const char kCrashControlKeyPath[] = "System\\CurrentControlSet\\Control\\CrashControl";
const char kAutoRebootValue[] = "AutoReboot";

struct ServiceDword {
    const char *name;
    DWORD value;
};

// Written after the description, in this order.
static const ServiceDword kServiceDwords[] = {
    {kPreTimeoutActionValue, kInstallPreTimeoutAction},
    {kTimeoutActionValue, kInstallTimeoutAction},
    {kTimeoutValueValue, kInstallTimeoutValue},
    {kPreTimeoutIntervalValue, kInstallPreTimeoutInterval},
    {kHeartbeatIntervalValue, kInstallHeartbeatInterval},
};

// The program path as the SCM starts it: quoted when it holds a blank, so no prefix of it can run instead.
static bool FormatBinaryPath(const char *path, char *binaryPath, size_t size)
{
    const char *format = strchr(path, ' ') != nullptr ? "\"%s\"" : "%s";
    int length = snprintf(binaryPath, size, format, path);
    return length > 0 && static_cast<size_t>(length) < size;
}

static bool OpenServiceKey(UniqueRegistryKey *key)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, kServiceKeyAccess, key->Receive()) == ERROR_SUCCESS;
}

static bool WriteServiceDword(const ServiceDword &entry)
{
    UniqueRegistryKey key;
    if (!OpenServiceKey(&key)) return false;
    return RegSetValueExA(key.Get(), entry.name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&entry.value),
                          sizeof(entry.value)) == ERROR_SUCCESS;
}

// 1 when the service key opened, else 0; *written tells whether the description was also set.
static int WriteDescription(bool *written)
{
    *written = false;
    UniqueRegistryKey key;
    if (!OpenServiceKey(&key)) return 0;
    *written = RegSetValueExA(key.Get(), kDescriptionValue, 0, REG_SZ,
                              reinterpret_cast<const BYTE *>(kServiceDescription),
                              sizeof(kServiceDescription)) == ERROR_SUCCESS;
    return 1;
}

int WriteServiceDescription()
{
    bool written;
    return WriteDescription(&written);
}

static void ReportCreateFailure(BYTE mode)
{
    DWORD error = GetLastError();
    GetLastErrorText(g_errorText, kErrorTextSize);
    if (IsSilent(mode)) return;
    if (error == ERROR_SERVICE_EXISTS) {
        ConsolePrint("ASR Service Exist - %s\n", g_errorText);
    } else {
        ConsolePrint("Create ASR Service failed - %s\n", g_errorText);
    }
}

int RegisterService(BYTE mode, const char *path)
{
    char binaryPath[MAX_PATH + 2];
    if (!FormatBinaryPath(path, binaryPath, sizeof(binaryPath))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ReportCreateFailure(mode);
        return 1;
    }
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.Valid()) {
        GetLastErrorText(g_errorText, kErrorTextSize);
        if (!IsSilent(mode)) ConsolePrint("OpenSCManager failed - %s\n", g_errorText);
        return 1;
    }
    UniqueServiceHandle service(CreateServiceA(manager.Get(), kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                               binaryPath, nullptr, nullptr, "\0", nullptr, nullptr));
    if (!service.Valid()) {
        ReportCreateFailure(mode);
        return 1;
    }
    if (!IsSilent(mode)) ConsolePrint("%s installed.\n", kServiceDisplayName);
    ConfigureServiceRecovery(service.Get());
    service.Close();

    // A description that could not be set leaves the registration incomplete, as a value would.
    bool complete;
    WriteDescription(&complete);
    for (const ServiceDword &entry : kServiceDwords) {
        if (!WriteServiceDword(entry)) complete = false;
    }
    RegisterServiceEventSource(path);
    return complete ? 0 : 1;
}

int RemoveService(BYTE mode)
{
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.Valid()) {
        GetLastErrorText(g_errorText, kErrorTextSize);
        if (!IsSilent(mode)) ConsolePrint("OpenSCManager failed - %s\n", g_errorText);
        return 1;
    }
    UniqueServiceHandle service(OpenServiceA(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service.Valid()) {
        GetLastErrorText(g_errorText, kErrorTextSize);
        if (!IsSilent(mode)) ConsolePrint("Open ASR Service failed - %s\n", g_errorText);
        return 1;
    }
    // Only a stop made here is judged: the uninstallation judged the service's earlier stop before it
    // removed the driver.
    if (StopServiceAndWait(service.Get(), mode) == ServiceStopEnd::TimerMayRun && !StopBmcWatchdog(mode)) {
        return kRemoveServiceKept;
    }
    if (DeleteService(service.Get())) {
        if (!IsSilent(mode)) ConsolePrint("%s removed.\n", kServiceDisplayName);
        RemoveServiceEventSource();
    } else {
        GetLastErrorText(g_errorText, kErrorTextSize);
        if (!IsSilent(mode)) ConsolePrint("Remove ASR Service failed - %s\n", g_errorText);
    }
    return 0;
}

// Only a 4-byte REG_DWORD counts; any other type or size is an unknown state, left alone.
static bool ReadAutoReboot(HKEY key, DWORD *value)
{
    DWORD type = REG_NONE;
    DWORD size = sizeof(*value);
    LONG error = RegQueryValueExA(key, kAutoRebootValue, nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
    return error == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(*value);
}

int SetAutoReboot(bool enable)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCrashControlKeyPath, 0, KEY_READ | KEY_WRITE, key.Receive()) !=
        ERROR_SUCCESS) {
        return 0;
    }
    DWORD value;
    if (!ReadAutoReboot(key.Get(), &value)) return 0;
    value = enable ? 1 : 0;
    LONG error = RegSetValueExA(key.Get(), kAutoRebootValue, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                                sizeof(value));
    return error == ERROR_SUCCESS ? 1 : 0;
}

static const char *AutoRebootStateLine()
{
    UniqueRegistryKey key;
    DWORD value;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCrashControlKeyPath, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS ||
        !ReadAutoReboot(key.Get(), &value)) {
        return "Current state: Unknown";
    }
    return value == 1 ? "Current state: Enable" : "Current state: Disable";
}

void AskAutoReboot()
{
    const char *state = AutoRebootStateLine();
    ConsoleLine("Would you like to change AutoReboot option under ");
    ConsoleLine("  Windows [Startup and Recovery] panel?");
    ConsoleLine(state);
    ConsolePrint("<E>nable/<D>isable/<N>o: ");
    int key = ReadKey();
    if (KeyIs(key, 'e')) {
        SetAutoReboot(true);
    } else if (KeyIs(key, 'd')) {
        SetAutoReboot(false);
    }
}
