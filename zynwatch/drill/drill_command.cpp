#include "drill/drill_command.h"

#include <windows.h>

#include <stdio.h>

#include "drill/drill_events.h"
#include "drill/drill_records.h"
#include "drill/drill_run.h"
#include "drill/drill_service.h"
#include "guards.h"
#include "service_identity.h"
#include "watchdog/watchdog.h"
#include "watchdog_stop_retry.h"

const char kDrillMutexName[] = "Global\\ZynAsrServiceDrill";
const DWORD kPollMs = 250;
const ULONGLONG kTakeLimitMs = 15000;     // for the service to take the request
const ULONGLONG kSlackMs = 60000;         // beyond the countdown, for a slow BMC's requests
const ULONGLONG kCancelLimitMs = 20000;   // for the service to end a cancelled drill
const DWORD kCloseGraceMs = 4500;         // within the five seconds Windows gives a closing console

// They live as long as the process: the console's handler may run at any moment.
static HANDLE g_interrupted;  // manual reset: Ctrl+C, or the console closes
static HANDLE g_finished;     // manual reset: the timer is restored and the verdict written, the process may end

// Prints the lines not printed yet, or with json the JSON line once the drill has ended.
struct CommandOutput {
    bool json;
    size_t printed;
};

static void PrintLines(CommandOutput *output, const char (*lines)[kDrillLineSize], size_t count)
{
    if (output->json) return;
    for (; output->printed < count; ++output->printed) printf("%s\n", lines[output->printed]);
    fflush(stdout);
}

static int Conclude(const DrillReport &report, CommandOutput *output)
{
    static char json[kDrillJsonSize];
    PrintLines(output, report.lines, report.lineCount);
    if (output->json && BuildDrillJson(report, json, sizeof(json))) printf("%s\n", json);
    fflush(stdout);
    return DrillExitCodeOf(report.outcome);
}

// A drill without the verdict of its own report: only the verdict line, not run (why null: no
// service) or interrupted.
static int EndHere(DrillMode mode, uint32_t seconds, DrillOutcome outcome, const char *why, CommandOutput *output)
{
    static DrillReport report;
    BeginDrillReport(&report, mode, static_cast<uint16_t>(seconds));
    if (why == nullptr) {
        EndDrillNoService(&report);
    } else if (outcome == kDrillInterrupted) {
        EndDrillInterrupted(&report, why);
    } else {
        EndDrillNotRun(&report, why);
    }
    output->printed = report.lineCount - 1;
    return Conclude(report, output);
}

static int Refuse(DrillMode mode, uint32_t seconds, const char *why, CommandOutput *output)
{
    return EndHere(mode, seconds, kDrillNotRun, why, output);
}

static BOOL WINAPI OnConsoleControl(DWORD type)
{
    SetEvent(g_interrupted);
    // Windows ends the process when the handler returns from these: the timer is restored first.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(g_finished, kCloseGraceMs);
    }
    return TRUE;
}

static uint64_t FileTimeNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

static DWORD ServiceState(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

struct AloneDrill {
    SC_HANDLE service;
    CommandOutput *output;
};

static void PrintProgress(void *context, const DrillReport &report)
{
    PrintLines(static_cast<AloneDrill *>(context)->output, report.lines, report.lineCount);
}

// The timer as the stopped service leaves it, unless the service started meanwhile and armed it.
static DrillLeft StopAsFound(void *context, WatchdogOutcome *outcome)
{
    if (ServiceState(static_cast<AloneDrill *>(context)->service) != SERVICE_STOPPED) return kDrillLeftToService;
    bool stopped = false;
    RetryWatchdogStop([outcome] { return StopWatchdog(outcome); }, [] {}, &stopped);
    return stopped ? kDrillLeftStopped : kDrillLeftNotRestored;
}

static int DrillAlone(SC_HANDLE service, uint32_t seconds, CommandOutput *output)
{
    static DrillReport report;
    AloneDrill drill = {service, output};
    const char *const reasons[1] = {"the command was interrupted (Ctrl+C)"};
    DrillHost host = {kDrillAlone, &g_interrupted, reasons, 1, StopAsFound, PrintProgress, &drill, {}};
    RunDrill(host, static_cast<uint16_t>(seconds), &report);
    ReportDrillVerdict(report);
    SetEvent(g_finished);
    return Conclude(report, output);
}

// The request in the service's "Drill" key; the key's error when it cannot be written.
static LONG WriteRequest(const DrillRequest &request)
{
    uint8_t bytes[kDrillRequestSize];
    EncodeDrillRequest(request, bytes);
    UniqueRegistryKey key;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrillKeyPath, 0, KEY_SET_VALUE, key.Receive());
    if (error != ERROR_SUCCESS) return error;
    return RegSetValueExA(key.Get(), kDrillRequestValue, 0, REG_BINARY, bytes, sizeof(bytes));
}

static bool ReadPublished(PublishedDrill *published)
{
    static uint8_t bytes[kDrillReportSize];
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrillKeyPath, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) return false;
    DWORD type = REG_NONE, size = sizeof(bytes);
    return RegQueryValueExA(key.Get(), kDrillReportValue, nullptr, &type, bytes, &size) == ERROR_SUCCESS &&
           type == REG_BINARY && DecodeDrillReport(bytes, size, published);
}

static int ConcludePublished(const PublishedDrill &published, CommandOutput *output)
{
    PrintLines(output, published.lines, published.lineCount);
    if (output->json) printf("%s\n", published.json);
    fflush(stdout);
    return published.exitCode;
}

// Where following the service's drill stands after one look at its report.
enum Following { kFollowing, kFollowEnded, kFollowOther };

static Following Look(uint64_t requestId, bool *taken, PublishedDrill *published, CommandOutput *output)
{
    if (!ReadPublished(published)) return kFollowing;
    if (published->requestId != requestId) return published->finished ? kFollowing : kFollowOther;
    *taken = true;
    if (published->finished) return kFollowEnded;
    PrintLines(output, published->lines, published->lineCount);
    return kFollowing;
}

// Follows the report until the drill ends; Ctrl+C, or a drill that outlasts its countdown by a
// minute, has the service end it. Bounded whatever the service does.
static int FollowServiceDrill(SC_HANDLE service, const DrillRequest &request, CommandOutput *output)
{
    static PublishedDrill published;
    ULONGLONG started = GetTickCount64(), limit = started + request.seconds * 1000ULL + kSlackMs, cancelLimit = 0;
    bool taken = false;
    for (;;) {
        Following following = Look(request.requestedAt, &taken, &published, output);
        if (following == kFollowEnded) return ConcludePublished(published, output);
        if (following == kFollowOther) return Refuse(kDrillThroughService, request.seconds, "another drill runs", output);
        ULONGLONG now = GetTickCount64();
        if (ServiceState(service) != SERVICE_RUNNING) {
            if (Look(request.requestedAt, &taken, &published, output) == kFollowEnded) {
                return ConcludePublished(published, output);
            }
            return EndHere(kDrillThroughService, request.seconds, kDrillInterrupted,
                           "the service stopped before the drill's verdict", output);
        }
        if (!taken && now > started + kTakeLimitMs) {
            return Refuse(kDrillThroughService, request.seconds, "the service did not take the request", output);
        }
        bool cancel = WaitForSingleObject(g_interrupted, kPollMs) == WAIT_OBJECT_0 || GetTickCount64() > limit;
        if (cancel && cancelLimit == 0) {
            SERVICE_STATUS status = {};
            ControlService(service, kDrillCancelControl, &status);
            cancelLimit = GetTickCount64() + kCancelLimitMs;
        }
        if (cancelLimit != 0 && GetTickCount64() > cancelLimit) {
            return EndHere(kDrillThroughService, request.seconds, kDrillInterrupted,
                           "the service did not end the drill in time", output);
        }
    }
}

static int DrillThroughService(SC_HANDLE service, uint32_t seconds, CommandOutput *output)
{
    DrillRequest request = {seconds, FileTimeNow()};
    LONG written = WriteRequest(request);
    if (written == ERROR_ACCESS_DENIED) {
        return Refuse(kDrillThroughService, seconds, "only an administrator may request a drill: run it elevated", output);
    }
    if (written != ERROR_SUCCESS) {
        return Refuse(kDrillThroughService, seconds, "the running service takes no drill request: restart it", output);
    }
    SERVICE_STATUS status = {};
    if (!ControlService(service, kDrillControl, &status)) {
        char why[96];
        snprintf(why, sizeof(why), "the service refused the drill's control: error %lu", GetLastError());
        return Refuse(kDrillThroughService, seconds, why, output);
    }
    int exitCode = FollowServiceDrill(service, request, output);
    SetEvent(g_finished);
    return exitCode;
}

// The service's state decides where the drill runs: through it while it runs, alone while stopped.
static int DrillWithService(uint32_t seconds, CommandOutput *output)
{
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(manager.Valid() ? OpenServiceA(manager.Get(), kServiceName,
                                                               SERVICE_QUERY_STATUS | SERVICE_USER_DEFINED_CONTROL)
                                                : nullptr);
    if (!service.Valid()) {
        DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) return Refuse(kDrillAlone, seconds, nullptr, output);
        char why[96];
        snprintf(why, sizeof(why), "the Service Control Manager refused: error %lu", error);
        return Refuse(kDrillAlone, seconds, why, output);
    }
    DWORD state = ServiceState(service.Get());
    if (state == SERVICE_RUNNING) return DrillThroughService(service.Get(), seconds, output);
    if (state == SERVICE_STOPPED) return DrillAlone(service.Get(), seconds, output);
    return Refuse(kDrillAlone, seconds, "the service is starting, stopping or paused: try again when it runs or has stopped",
                  output);
}

int RunDrillCommand(uint32_t seconds, bool json)
{
    CommandOutput output = {json, 0};
    if (!DrillSecondsValid(seconds)) return Refuse(kDrillAlone, seconds, "its countdown must be 10 to 120 s", &output);
    UniqueHandle mutex(CreateMutexA(nullptr, FALSE, kDrillMutexName));
    MutexOwnership owned(mutex.Get());
    if (!owned.Held()) return Refuse(kDrillAlone, seconds, "another drill runs", &output);
    g_interrupted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    int exitCode = DrillWithService(seconds, &output);
    SetEvent(g_finished);
    return exitCode;
}
