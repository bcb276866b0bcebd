#include "drill/drill_service.h"

#include "drill/drill_events.h"
#include "drill/drill_records.h"
#include "drill/drill_run.h"
#include "guards.h"

const int kPowerInterrupt = 2;

static HANDLE g_requested;  // auto reset: a drill control came
static HANDLE g_cancelled;  // auto reset: a cancel control came

void InitializeDrillControls()
{
    g_requested = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_cancelled = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

bool IsDrillControl(DWORD control)
{
    return control == kDrillControl || control == kDrillCancelControl;
}

void SignalDrillControl(DWORD control)
{
    HANDLE event = control == kDrillControl ? g_requested : g_cancelled;
    if (event != nullptr) SetEvent(event);
}

HANDLE DrillRequestEvent()
{
    return g_requested;
}

void OpenDrillPublication()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDrillKeyPath);
    UniqueRegistryKey key;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDrillKeyPath, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr,
                    key.Receive(), nullptr);
}

void CloseDrillPublication()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDrillKeyPath);
}

static uint64_t FileTimeNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// The request in the key, removed as it is read; false when there is none, or none fresh.
static bool TakeRequest(DrillRequest *request)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrillKeyPath, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.Receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    uint8_t bytes[kDrillRequestSize];
    DWORD type = REG_NONE, size = sizeof(bytes);
    LONG read = RegQueryValueExA(key.Get(), kDrillRequestValue, nullptr, &type, bytes, &size);
    RegDeleteValueA(key.Get(), kDrillRequestValue);
    return read == ERROR_SUCCESS && type == REG_BINARY && DecodeDrillRequest(bytes, size, request) &&
           DrillRequestFresh(request->requestedAt, FileTimeNow());
}

struct ServiceDrill {
    WatchdogKeeper *keeper;
    uint64_t requestId;
};

static void Publish(uint64_t requestId, const DrillReport &report)
{
    static char json[kDrillJsonSize];
    static uint8_t bytes[kDrillReportSize];
    json[0] = '\0';
    if (report.outcome != kDrillUnderWay && !BuildDrillJson(report, json, sizeof(json))) json[0] = '\0';
    size_t size = EncodeDrillReport(requestId, report, json, bytes, sizeof(bytes));
    UniqueRegistryKey key;
    if (size == 0 || RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrillKeyPath, 0, KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key.Get(), kDrillReportValue, 0, REG_BINARY, bytes, static_cast<DWORD>(size));
}

static void PublishProgress(void *context, const DrillReport &report)
{
    Publish(static_cast<ServiceDrill *>(context)->requestId, report);
}

static DrillLeft RearmAsKept(void *context, WatchdogOutcome *outcome)
{
    return RearmKeptWatchdog(static_cast<ServiceDrill *>(context)->keeper, outcome) ? kDrillLeftArmed
                                                                                    : kDrillLeftNotRestored;
}

static void Refuse(const DrillRequest &request, const char *why)
{
    static DrillReport report;
    BeginDrillReport(&report, kDrillThroughService, static_cast<uint16_t>(request.seconds));
    EndDrillNotRun(&report, why);
    Publish(request.requestedAt, report);
}

// A request that came during the drill is not run after it: its command was told another one ran.
static void DiscardQueuedRequests()
{
    ResetEvent(g_requested);
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDrillKeyPath, 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS) {
        RegDeleteValueA(key.Get(), kDrillRequestValue);
    }
}

void RunRequestedDrill(WatchdogKeeper *keeper, HANDLE stop, HANDLE power, bool heartbeatsWithheld)
{
    DrillRequest request;
    ResetEvent(g_cancelled);
    if (!TakeRequest(&request)) return;
    if (!DrillSecondsValid(request.seconds)) {
        Refuse(request, "its countdown is not 10 to 120 s");
        return;
    }
    if (heartbeatsWithheld) {
        Refuse(request, "the service withholds its heartbeats because a health check fails: the BMC is to act when its "
                        "countdown runs out");
        return;
    }
    static DrillReport report;
    ServiceDrill drill = {keeper, request.requestedAt};
    const HANDLE interrupts[3] = {stop, g_cancelled, power};
    const char *const reasons[3] = {"the service is stopping", "the drill was cancelled", "Windows is going to sleep"};
    DrillHost host = {kDrillThroughService, interrupts, reasons, 3, RearmAsKept, PublishProgress, &drill, keeper->settings};
    int interrupt = RunDrill(host, static_cast<uint16_t>(request.seconds), &report);
    Publish(request.requestedAt, report);
    ReportDrillVerdict(report);
    DiscardQueuedRequests();
    if (interrupt == kPowerInterrupt) SetEvent(power);
}
