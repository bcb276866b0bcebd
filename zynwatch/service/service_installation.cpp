#include "service/service_installation.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "configuration/service_configuration.h"
#include "guards.h"
#include "last_error_text.h"
#include "service_event_source.h"
#include "service_identity.h"
#include "service_recovery.h"
#include "watchdog/watchdog.h"
#include "watchdog_stop_retry.h"

const DWORD kPathSize = 260;
const DWORD kModulePathCapacity = 259;
const DWORD kStopPollMs = 1000;
const DWORD kStopWaitPolls = 30;  // a service still stopping after about 30 s did not stop cleanly
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

bool InstallService(const CommandOptions &options)
{
    char path[kPathSize];
    char command[kPathSize + 2];
    if (!GetProgramPath(path)) {
        printf("Unable to install %s - %s\n", kServiceDisplayName, ErrorText());
        return false;
    }
    FormatServiceCommand(path, command, sizeof(command));
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.Valid()) {
        printf("OpenSCManager failed - %s\n", ErrorText());
        return false;
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
        return false;
    }
    printf("%s installed.\n", kServiceDisplayName);
    ConfigureServiceRecovery(service.Get());
    service.Close();
    WriteServiceConfiguration(options.timeoutChoice, options.pretimeoutChoice);
    RegisterServiceEventSource(path);
    StopWatchdog();
    return true;
}

// Prints "Stopping", one dot per poll that still finds the service stopping, for about 30 s at
// most, then the outcome; true when it stopped.
static bool WaitForServiceStop(SC_HANDLE service, SERVICE_STATUS *status)
{
    printf("Stopping %s.", kServiceDisplayName);
    fflush(stdout);
    Sleep(kStopPollMs);
    for (DWORD polls = 1; QueryServiceStatus(service, status); ++polls) {
        if (status->dwCurrentState != SERVICE_STOP_PENDING || polls >= kStopWaitPolls) break;
        printf(".");
        fflush(stdout);
        Sleep(kStopPollMs);
    }
    bool stopped = status->dwCurrentState == SERVICE_STOPPED;
    if (stopped) {
        printf("\n%s stopped.\n", kServiceDisplayName);
    } else {
        printf("\n%s failed to stop.\n", kServiceDisplayName);
    }
    return stopped;
}

// The service's own stop failed: the stop request with the service's retry; false, with why,
// when the BMC took none of them.
static bool StopWatchdogForRemoval()
{
    bool stopped = false;
    WatchdogOutcome last = {};
    uint32_t tries = RetryWatchdogStop([&last] { return StopWatchdog(&last); }, [] {}, &stopped);
    if (stopped) return true;
    char cause[48];
    DescribeOutcome(last, cause, sizeof(cause));
    printf(kWatchdogStopFailedFormat, cause, static_cast<unsigned long>(tries));
    printf("The %s is not removed: the timer may still run, and only the service's heartbeats keep the BMC from "
           "resetting this server. Start the service again, or stop the timer with a BMC tool, then remove it.\n",
           kServiceDisplayName);
    return false;
}

// Stops the service if it runs. A stop that may have left the BMC's watchdog running, this one or
// an earlier one of a service found stopped, is followed by the stop request. False when the
// watchdog may still run.
static bool StopForRemoval(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    bool stopped = false;
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        stopped = WaitForServiceStop(service, &status);
    } else if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED) {
        stopped = true;
    } else {
        return true;  // neither stopped nor stopping: nothing of its stop to judge
    }
    return StopLeftNoTimer(stopped, status.dwWin32ExitCode) || StopWatchdogForRemoval();
}

bool UninstallService()
{
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.Valid()) {
        printf("OpenSCManager failed - %s\n", ErrorText());
        return false;
    }
    UniqueServiceHandle service(OpenServiceA(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service.Valid()) {
        printf("ASR Service not found - %s\n", ErrorText());
        return false;
    }
    if (!StopForRemoval(service.Get())) return false;
    if (!DeleteService(service.Get())) {
        printf("Remove %s failed - %s\n", kServiceDisplayName, ErrorText());
        return false;
    }
    printf("The %s removed.\n", kServiceDisplayName);
    RemoveServiceEventSource();
    return true;
}
