// zynwatch -drill through the running service and alone: its wall time and its overhead over the
// countdown, and how long the BMC's timer is without its configured action, from the drill's arm to
// the configured one by the driver's clock. Then zynwatch -status against a SEL of 1,000 records,
// answered at once and at 10 ms a request as a real BMC's interface answers.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "service_identity.h"
#include "simulated_bmc.h"
#include "zynwatch_test_support.h"

const DWORD kLimitMs = 300000;
const uint8_t kSetWatchdog = 0x24;
const uint8_t kGetSelEntry = 0x43;

// From the drill's Set Watchdog Timer (no action) to the next one, which arms the configured action
// again or stops the timer, by the driver's clock; 0 when either is missing.
static double WithoutActionMs(SimulatedBmc *bmc, uint32_t first)
{
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc->ReadLog(first, &frequency);
    long long drillArm = -1;
    for (const ImbSimLogEntry &e : log) {
        if (e.packet[9] != kSetWatchdog) continue;
        bool noAction = e.packet[14] == 0x00 && e.packet[17] != 0xB8;  // not the stop request's 300 s
        if (drillArm < 0 && noAction) {
            drillArm = e.counter;
        } else if (drillArm >= 0) {
            return CounterMs(drillArm, e.counter, frequency);
        }
    }
    return 0;
}

static void MeasureDrill(SimulatedBmc *bmc, const char *mode, uint32_t seconds)
{
    uint32_t first = bmc->LoggedCount();
    double wallMs = 0;
    long exitCode = RunBesideThis("zynwatch.exe", "-drill " + std::to_string(seconds), kLimitMs, &wallMs);
    printf("  drill %s, %3lu s countdown: wall %6.1f s, overhead %4.1f s; without the configured action %6.1f s   exit "
           "code %ld\n",
           mode, static_cast<unsigned long>(seconds), wallMs / 1000, wallMs / 1000 - seconds,
           WithoutActionMs(bmc, first) / 1000, exitCode);
}

static uint32_t CountLogged(SimulatedBmc *bmc, uint32_t first, uint8_t command)
{
    uint32_t count = 0;
    for (const ImbSimLogEntry &e : bmc->ReadLog(first)) count += e.packet[9] == command;
    return count;
}

// -status three times; the worst wall time and the records the last one asked for.
static void MeasureStatus(SimulatedBmc *bmc, const char *pace)
{
    double worstMs = 0;
    uint32_t records = 0;
    long exitCode = 0;
    for (int run = 0; run < 3; ++run) {
        uint32_t first = bmc->LoggedCount();
        double wallMs = 0;
        exitCode = RunBesideThis("zynwatch.exe", "-status", kLimitMs, &wallMs);
        worstMs = std::max(worstMs, wallMs);
        records = CountLogged(bmc, first, kGetSelEntry);
    }
    printf("  zynwatch -status, SEL of 1000 records, %s: %5.2f s worst of 3, %lu records read   exit code %ld\n", pace,
           worstMs / 1000, static_cast<unsigned long>(records), exitCode);
}

int main()
{
    SimulatedBmc bmc;
    if (!bmc.Connected()) {
        printf("the simulated driver does not answer\n");
        return 1;
    }
    double ignored = 0;
    if (RunBesideThis("zynwatch.exe", "-install", kLimitMs, &ignored) != 0) {
        printf("cannot install the service\n");
        return 1;
    }
    WriteServiceDword("HeartbeatInterval", 1);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        printf("cannot open the service (%lu)\n", GetLastError());
        return 1;
    }
    printf("drills (the server is without the configured action from the drill's arm to the next Set)\n");
    bmc.Reset();
    StartServiceA(service, 0, nullptr);
    WaitForServiceState(service, SERVICE_RUNNING, 10000);
    Sleep(2000);
    MeasureDrill(&bmc, "through the service", 10);
    MeasureDrill(&bmc, "through the service", 20);
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    WaitForServiceState(service, SERVICE_STOPPED, 30000);
    MeasureDrill(&bmc, "alone              ", 10);

    printf("zynwatch -status reading the BMC's log from its end\n");
    bmc.Reset();
    bmc.SetSel(IMBSIM_SEL_MAX_RECORDS, 1000);
    MeasureStatus(&bmc, "answers at once  ");
    bmc.DelayAnswers(10, IMBSIM_EVERY_REQUEST);
    MeasureStatus(&bmc, "10 ms an answer  ");

    bmc.Reset();
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}
