#include "status/status_command.h"

#include <windows.h>

#include <stdio.h>

#include "configuration/service_configuration.h"
#include "guards.h"
#include "health/health_publication.h"
#include "sel/sel_history.h"
#include "service_identity.h"
#include "status/status_json.h"
#include "status/status_report.h"
#include "watchdog/watchdog.h"

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

static ConfigurationFacts GatherConfigurationFacts()
{
    ConfigurationFacts facts = {};
    facts.settings = PeekWatchdogSettings();
    DWORD interval = 0;
    facts.heartbeatRead = ReadHeartbeatInterval(&interval);
    facts.heartbeatInterval = interval;
    facts.shutdownTimeout = ReadShutdownTimeout();
    return facts;
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

int PrintServiceStatus(bool json)
{
    StatusFacts facts = {};
    facts.service = GatherServiceFacts();
    facts.configuration = GatherConfigurationFacts();
    facts.bmc.read = ReadWatchdogTimer(&facts.bmc.reading, &facts.bmc.outcome);
    // A BMC that did not answer at all would only make each further request wait out its time.
    if (facts.bmc.outcome.error == 0) GatherSelFacts(&facts.sel);
    GatherHealthFacts(facts.service.error == 0 && facts.service.state == kServiceStateRunning, &facts.health);
    int exitCode = json ? PrintJson(facts) : PrintLines(facts);
    fflush(stdout);
    return exitCode;
}
