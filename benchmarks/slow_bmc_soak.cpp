// The service for some minutes against a BMC that answers close to the 5-second timeout, some
// answers late enough to time out: heartbeat period against interval + latency, and the stop.
//   slow_bmc_soak [minutes]   (3 by default; run by scripts/campaigns in a test bed prefix)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "configuration/service_configuration.h"
#include "service_identity.h"
#include "simulated_bmc.h"
#include "zynwatch_test_support.h"

const DWORD kDefaultDelayMs = 4800;
const DWORD kIntervalSeconds = 1;

static bool Running(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status = {};
    return QueryServiceState(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
}

// The driver answers every request after delayMs from its restart on.
static bool RestartDriverWithDelay(long long delayMs)
{
    return ControlSimulatedDriver(false) && SetSimulatedDriverDefault("ResponseDelayMs", delayMs) &&
           ControlSimulatedDriver(true);
}

struct SoakFigures {
    int heartbeats = 0;
    int timedOut = 0;
    double meanLateness = 0, worstLateness = -1e9;
    double meanLatency = 0, worstLatency = 0;
};

// Period minus interval minus the previous request's latency, for every heartbeat after the first.
static SoakFigures Measure(const std::vector<ImbSimLogEntry> &log, int64_t frequency)
{
    SoakFigures figures;
    int periods = 0;
    for (size_t i = 1; i < log.size(); ++i) {
        if (log[i].packet[9] != 0x22) continue;
        ++figures.heartbeats;
        if (log[i].status == 0xE0040007u) ++figures.timedOut;
        double latency = double(log[i].completedCounter - log[i].counter) * 1000.0 / double(frequency);
        figures.meanLatency += latency;
        figures.worstLatency = std::max(figures.worstLatency, latency);
        if (i <= kStartRequests) continue;  // the loop's first heartbeat follows the starting reset without a wait
        double previous = double(log[i - 1].completedCounter - log[i - 1].counter) * 1000.0 / double(frequency);
        double period = double(log[i].counter - log[i - 1].counter) * 1000.0 / double(frequency);
        double late = period - previous - kIntervalSeconds * 1000.0;
        figures.meanLateness += late;
        figures.worstLateness = std::max(figures.worstLateness, late);
        ++periods;
    }
    if (periods > 0) figures.meanLateness /= periods;
    if (periods == 0) figures.worstLateness = 0;
    if (figures.heartbeats > 0) figures.meanLatency /= figures.heartbeats;
    return figures;
}

int main(int argc, char **argv)
{
    double minutes = argc > 1 ? atof(argv[1]) : 3.0;
    if (!RemoveServiceIfPresent(kServiceName) || !RestartDriverWithDelay(kDefaultDelayMs)) {
        printf("soak: no test bed (the simulated driver imbsim cannot be restarted)\n");
        return 1;
    }
    SimulatedBmc bmc;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceA(manager, kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       ProgramBesideThis("zynwatch.exe").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!bmc.Connected() || service == nullptr) {
        printf("soak: cannot create the service (%lu)\n", GetLastError());
        return 1;
    }
    WriteServiceConfiguration(3, 0);
    WriteServiceDword("HeartbeatInterval", kIntervalSeconds);
    WriteServiceDword("SelEvents", 0);  // the heartbeat loop alone, without the boot's event in the BMC's log

    StartServiceA(service, 0, nullptr);
    long long frequency = CounterFrequency();
    long long end = CounterNow() + static_cast<long long>(minutes * 60.0 * double(frequency));
    bool alwaysRunning = true;
    uint32_t seen = 0;
    srand(6);
    // The start's requests answer in the default 4.8 s; after that each answer gives the next
    // heartbeat a delay of 4.0 to 5.4 s; above 5 s it times out.
    while (CounterNow() < end) {
        uint32_t logged = bmc.LoggedCount();  // waits behind a request in progress
        if (logged >= kStartRequests && !Running(service)) alwaysRunning = false;
        if (logged != seen && logged >= kStartRequests) {
            seen = logged;
            bmc.DelayAnswers(4000 + static_cast<DWORD>(rand() % 1400));
        }
        Sleep(20);
    }
    while (bmc.LoggedCount() == seen && Running(service)) Sleep(5);  // the service is in its wait now
    bmc.DelayAnswers(4800);  // a slow stop request that still answers: one request, no retry
    SERVICE_STATUS status = {};
    long long stopStart = CounterNow();
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    double answeredMs = CounterMs(stopStart, CounterNow(), frequency);
    WaitForServiceState(service, SERVICE_STOPPED, 30000);
    double stopMs = CounterMs(stopStart, CounterNow(), frequency);

    int64_t driverFrequency = 0;
    std::vector<ImbSimLogEntry> log = bmc.ReadLog(0, &driverFrequency);
    SoakFigures figures = Measure(log, driverFrequency);
    double stopRequestMs = log.empty() ? 0 : double(log.back().completedCounter - log.back().counter) * 1000.0 /
                                                 double(driverFrequency);
    printf("soak: service against a BMC answering in 4.0-5.4 s for %.1f min, HeartbeatInterval %lu s\n", minutes,
           kIntervalSeconds);
    printf("  heartbeats                                %8d   (%d timed out, the loop went on)\n",
           figures.heartbeats, figures.timedOut);
    printf("  service stayed running                    %8s\n", alwaysRunning ? "yes" : "NO");
    printf("  request latency, mean / worst             %8.0f / %.0f ms\n", figures.meanLatency,
           figures.worstLatency);
    printf("  period - interval - latency, mean / worst %8.1f / %.1f ms\n", figures.meanLateness,
           figures.worstLateness);
    printf("  stop control answered                     %8.1f ms\n", answeredMs);
    printf("  stop control -> SERVICE_STOPPED           %8.0f ms   (the stop request itself took %.0f ms)\n",
           stopMs, stopRequestMs);

    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    RestartDriverWithDelay(-1);
    return alwaysRunning ? 0 : 1;
}
