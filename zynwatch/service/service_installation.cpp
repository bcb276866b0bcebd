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

// Starting or stopping: the service takes no stop control, and how it ends is still open.
static bool Pending(DWORD state)
{
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
}

// Prints "Stopping", one dot per poll that still finds the service starting, stopping or running,
// for about 40 s at most, then the outcome; true when it stopped. A start that ends meanwhile is
// sent the stop it could not take before.
static bool WaitForServiceStop(SC_HANDLE service, SERVICE_STATUS *status)
{
    printf("Stopping %s.", kServiceDisplayName);
    fflush(stdout);
    Sleep(kStopPollMs);
    for (DWORD polls = 1; QueryServiceStatus(service, status); ++polls) {
        if (status->dwCurrentState == SERVICE_RUNNING) ControlService(service, SERVICE_CONTROL_STOP, status);
        if (status->dwCurrentState == SERVICE_STOPPED || polls >= kServiceStopWaitSeconds) break;
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

// The state of a service that refused the stop control; 0 when it cannot be learnt.
static DWORD StateAfterRefusal(SC_HANDLE service, SERVICE_STATUS *status)
{
    return QueryServiceStatus(service, status) ? status->dwCurrentState : 0;
}

// Stops the service if it runs, and waits for one that is starting or stopping: refused the stop
// meanwhile, it may still leave the timer running. A stop that may have left the BMC's watchdog
// running, this one, an earlier one of a service found stopped, or one that never came from a
// service that refuses it while not stopped (its process hangs or is gone), is followed by the
// stop request. False when the watchdog may still run.
static bool StopForRemoval(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    bool stopped = false;
    bool accepted = ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE;
    DWORD state = accepted ? SERVICE_STOP_PENDING : StateAfterRefusal(service, &status);
    if (Pending(state)) {
        stopped = WaitForServiceStop(service, &status);
    } else {
        stopped = state == SERVICE_STOPPED;
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
