#include "service_installation.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "../common/guards.h"
#include "../common/last_error_text.h"
#include "../common/service_event_source.h"
#include "../common/service_recovery.h"
#include "service_configuration.h"
#include "service_identity.h"
#include "watchdog.h"

const DWORD kPathSize = 260;
const DWORD kModulePathCapacity = 259;
const DWORD kStopPollMs = 1000;
const char kNoDependencies[] = "\0";  // an empty list: two zeros

static const char *ErrorText()
{
    return GetLastErrorText(g_errorText, kErrorTextSize);
}

// The program's own path; false when the path is cut short.
static bool GetProgramPath(char path[kPathSize])
{
    DWORD length = GetModuleFileNameA(nullptr, path, kModulePathCapacity);
    if (length == 0) return false;
    if (length >= kModulePathCapacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    return true;
}

// The path as the service command: quoted when it holds a space, so that no other program on a
// prefix of it runs as LocalSystem.
static void FormatServiceCommand(const char *path, char *command, size_t size)
{
    if (strchr(path, ' ') != nullptr) {
        snprintf(command, size, "\"%s\"", path);
    } else {
        snprintf(command, size, "%s", path);
    }
}

void InstallService(const CommandOptions &options)
{
    char path[kPathSize];
    char command[kPathSize + 2];
    if (!GetProgramPath(path)) {
        printf("Unable to install %s - %s\n", kServiceDisplayName, ErrorText());
        return;
    }
    FormatServiceCommand(path, command, sizeof(command));
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.Valid()) {
        printf("OpenSCManager failed - %s\n", ErrorText());
        return;
    }
    UniqueServiceHandle service(CreateServiceA(manager.Get(), kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                               command, nullptr, nullptr, kNoDependencies, nullptr, nullptr));
    if (!service.Valid()) {
        if (GetLastError() == ERROR_SERVICE_EXISTS) {
            printf("ASR Service Exist - %s\n", ErrorText());
        } else {
            printf("Create ASR Service failed - %s\n", ErrorText());
        }
        return;
    }
    printf("%s installed.\n", kServiceDisplayName);
    ConfigureServiceRecovery(service.Get());
    service.Close();
    WriteServiceConfiguration(options.timeoutChoice, options.pretimeoutChoice);
    RegisterServiceEventSource(path);
    StopWatchdog();
}

// Prints "Stopping", one dot per poll that still finds the service stopping, then the outcome.
static void WaitForServiceStop(SC_HANDLE service, SERVICE_STATUS *status)
{
    printf("Stopping %s.", kServiceDisplayName);
    fflush(stdout);
    Sleep(kStopPollMs);
    while (QueryServiceStatus(service, status) && status->dwCurrentState == SERVICE_STOP_PENDING) {
        printf(".");
        fflush(stdout);
        Sleep(kStopPollMs);
    }
    if (status->dwCurrentState == SERVICE_STOPPED) {
        printf("\n%s stopped.\n", kServiceDisplayName);
    } else {
        printf("\n%s failed to stop.\n", kServiceDisplayName);
    }
}

void UninstallService()
{
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.Valid()) {
        printf("OpenSCManager failed - %s\n", ErrorText());
        return;
    }
    UniqueServiceHandle service(OpenServiceA(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service.Valid()) {
        printf("ASR Service not found - %s\n", ErrorText());
        return;
    }
    SERVICE_STATUS status = {};
    if (ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) WaitForServiceStop(service.Get(), &status);
    if (DeleteService(service.Get())) {
        printf("The %s removed.\n", kServiceDisplayName);
        RemoveServiceEventSource();
    } else {
        printf("Remove %s failed - %s\n", kServiceDisplayName, ErrorText());
    }
}
