#include "status/status_command.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "configuration/service_configuration.h"
#include "configuration/setting_sources.h"
#include "guards.h"
#include "health/health_publication.h"
#include "last_error_text.h"
#include "sel/sel_history.h"
#include "service_identity.h"
#include "status/nagios_report.h"
#include "status/prometheus_report.h"
#include "status/status_json.h"
#include "status/status_report.h"
#include "watchdog/watchdog.h"
#include "watchdog/watchdog_publication.h"

const DWORD kServiceQueryAccess = SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;
const DWORD kLargestServiceConfig = 8192;  // the documented upper bound of QUERY_SERVICE_CONFIG

// The start type, or the error that kept it from being read.
static DWORD QueryStartType(SC_HANDLE service, DWORD *startType)
{
    alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[kLargestServiceConfig];
    QUERY_SERVICE_CONFIGA *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer);
    DWORD needed = 0;
    if (!QueryServiceConfigA(service, config, sizeof(buffer), &needed)) return GetLastError();
    *startType = config->dwStartType;
    return ERROR_SUCCESS;
}

static DWORD QueryService(SC_HANDLE service, ServiceFacts *facts)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status), sizeof(status),
                              &needed)) {
        return GetLastError();
    }
    facts->state = status.dwCurrentState;
    facts->exitCode = status.dwWin32ExitCode;
    facts->specificExitCode = status.dwServiceSpecificExitCode;
    DWORD startType = 0;
    DWORD error = QueryStartType(service, &startType);
    facts->startType = startType;
    return error;
}

static ServiceFacts GatherServiceFacts()
{
    ServiceFacts facts = {};
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Valid()) {
        facts.error = GetLastError();
        return facts;
    }
    UniqueServiceHandle service(OpenServiceA(manager.Get(), kServiceName, kServiceQueryAccess));
    facts.error = service.Valid() ? QueryService(service.Get(), &facts) : GetLastError();
    return facts;
}

// Two copies of every setting, the one in use and the registry's now: too large for the stack.
static SettingsSnapshot g_inUse, g_configured;

// Where each value in use came from and, while the service runs, whether the registry holds another.
static void GatherSettingsFacts(SettingsView view, SettingsFacts *facts)
{
    facts->applied = view == kSettingsApplied;
    ReadSettingsSnapshot(view, &g_inUse);
    if (facts->applied) ReadSettingsSnapshot(kSettingsConfigured, &g_configured);
    for (size_t index = 0; index < kSettingCount; ++index) {
        facts->sources[index] = g_inUse.values[index].source;
        facts->notApplied[index] = facts->applied && !SameSettingValue(g_inUse.values[index], g_configured.values[index]);
    }
}

// The values the running service published as applied; without them, as it would read the registry.
static ConfigurationFacts GatherConfigurationFacts(SettingsView view)
{
    ConfigurationFacts facts = {};
    facts.settings = PeekWatchdogSettings(view);
    DWORD interval = 0;
    facts.heartbeatRead = ReadHeartbeatInterval(&interval, view);
    facts.heartbeatInterval = interval;
    facts.shutdownTimeout = ReadShutdownTimeout(view);
    GatherSettingsFacts(view, &facts.sources);
    return facts;
}

static HeartbeatFacts GatherHeartbeatFacts(bool serviceRuns)
{
    HeartbeatFacts facts = {};
    facts.published = serviceRuns && ReadHeartbeatPublication(&facts.failures, &facts.failuresInARow);
    facts.expiryFound = ReadWatchdogExpiryFound();
    if (facts.expiryFound != 0) facts.expiryFoundAt = LocalCivilTime(facts.expiryFound);
    return facts;
}

static void GatherStatusFacts(StatusFacts *facts)
{
    facts->service = GatherServiceFacts();
    bool serviceRuns = StatusServiceRuns(facts->service);
    SettingsView view = serviceRuns && AppliedSettingsPublished() ? kSettingsApplied : kSettingsConfigured;
    facts->configuration = GatherConfigurationFacts(view);
    facts->heartbeats = GatherHeartbeatFacts(serviceRuns);
    facts->bmc.read = ReadWatchdogTimer(&facts->bmc.reading, &facts->bmc.outcome);
    // A BMC that did not answer at all would only make each further request wait out its time.
    if (facts->bmc.outcome.error == 0) GatherSelFacts(&facts->sel);
    GatherHealthFacts(serviceRuns, &facts->health, view);
}

static int PrintLines(const StatusFacts &facts)
{
    StatusReport report;
    BuildStatusReport(facts, &report);
    for (size_t index = 0; index < report.lineCount; ++index) printf("%s\n", report.lines[index]);
    return report.exitCode;
}

// Its room holds the largest report, so the object is always whole.
static int PrintJson(const StatusFacts &facts)
{
    static char text[kStatusJsonSize];
    if (BuildStatusJson(facts, text, sizeof(text))) printf("%s\n", text);
    return DecideStatusExitCode(facts);
}

static int PrintNagios(const StatusFacts &facts)
{
    char line[2 * kStatusLineSize + kStatusMaxReasons * kStatusReasonSize];
    NagiosState state = BuildNagiosLine(facts, line, sizeof(line));
    printf("%s\n", line);
    return state;
}

static bool WriteWholeFile(const char *path, const char *text, size_t size)
{
    UniqueFileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return false;
    DWORD written = 0;
    return WriteFile(file.Get(), text, static_cast<DWORD>(size), &written, nullptr) && written == size &&
           FlushFileBuffers(file.Get());
}

// The folder of path, or "." when it names none; false when it does not fit.
static bool FolderOf(const char *path, char *folder, size_t size)
{
    char full[MAX_PATH];
    char *name = nullptr;
    DWORD length = GetFullPathNameA(path, sizeof(full), full, &name);
    if (length == 0 || length >= sizeof(full) || name == nullptr) return false;
    *name = '\0';
    return snprintf(folder, size, "%s", full) < static_cast<int>(size);
}

// Written beside the target under a name the collector passes over (it reads *.prom only), then
// put in its place in one step. The error of the step that failed, 0 on success.
static DWORD WriteMetricsFile(const char *path, const char *text)
{
    char folder[MAX_PATH], temporary[MAX_PATH];
    if (!FolderOf(path, folder, sizeof(folder))) return ERROR_BAD_PATHNAME;
    if (GetTempFileNameA(folder, "zyn", 0, temporary) == 0) return GetLastError();
    if (!WriteWholeFile(temporary, text, strlen(text)) ||
        !MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        DeleteFileA(temporary);
        return error;
    }
    return ERROR_SUCCESS;
}

// False, with the reason on standard error, when the file could not be written.
static bool WriteMetrics(const StatusFacts &facts, const char *path)
{
    static char text[kPrometheusTextSize];
    DWORD error = BuildPrometheusText(facts, text, sizeof(text)) ? WriteMetricsFile(path, text) : ERROR_INSUFFICIENT_BUFFER;
    if (error == ERROR_SUCCESS) return true;
    SetLastError(error);
    char reason[256];
    GetLastErrorText(reason, sizeof(reason));
    fprintf(stderr, "The metrics file %s was not written - %s\n", path, reason[0] != '\0' ? reason : "error");
    return false;
}

int RunStatusCommand(const StatusOutput &output)
{
    static StatusFacts facts;
    facts = {};
    GatherStatusFacts(&facts);
    int exitCode = output.nagios ? PrintNagios(facts) : output.json ? PrintJson(facts) : PrintLines(facts);
    fflush(stdout);
    if (output.prometheusFile != nullptr && !WriteMetrics(facts, output.prometheusFile)) {
        exitCode = output.nagios ? kNagiosUnknown : kStatusMetricsNotWritten;
    }
    return exitCode;
}

int PrintServiceStatus(bool json)
{
    return RunStatusCommand({json, false, nullptr});
}
