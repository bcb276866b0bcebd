// Requests the driver never completes, nor lets be cancelled: from the heartbeat that gets no
// answer to its event log entry, the stop that follows, and `zynwatch -status` from its start to
// its exit. ZYN_DEBUG_LOG names the prefix's debug log, where the service's entries appear.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "service_identity.h"
#include "service_messages.h"
#include "simulated_bmc.h"
#include "zynwatch_test_support.h"

const DWORD kLimitMs = 60000;

static bool HeartbeatFailureLogged(long long offset)
{
    for (const LoggedEvent &entry : EventLogEntriesSince(offset)) {
        if (entry.id == MSG_HEARTBEAT_FAILED) return true;
    }
    return false;
}

// The held heartbeat's arrival to its entry, by the driver's clock, and the stop control to
// SERVICE_STOPPED while every request hangs; false when either does not come within the limit.
static bool MeasureUnansweredHeartbeat(SC_HANDLE service, SimulatedBmc *bmc, double *toEntryMs, double *stopMs)
{
    bmc->Reset();
    long long offset = DebugLogSize();
    if (!StartServiceA(service, 0, nullptr)) return false;
    while (bmc->LoggedCount() < kStartRequests + 1) Sleep(10);
    bmc->HoldRequests(IMBSIM_EVERY_REQUEST, false);
    long long held = CounterNow();
    while (!HeartbeatFailureLogged(offset)) {
        if (CounterMs(held, CounterNow(), CounterFrequency()) > kLimitMs) return false;
        Sleep(20);
    }
    long long reported = CounterNow();
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    bool stopped = WaitForServiceState(service, SERVICE_STOPPED, kLimitMs);
    *stopMs = CounterMs(reported, CounterNow(), CounterFrequency());
    bmc->ReleaseHeld();
    int64_t frequency = 0;
    for (const ImbSimLogEntry &e : bmc->ReadLog(0, &frequency)) {
        if (e.completedCounter <= reported) continue;  // answered before the hold
        *toEntryMs = CounterMs(e.counter, reported, frequency);
        return stopped;
    }
    return false;
}

// `zynwatch -status` against a BMC whose Get Watchdog Timer is held; gives its exit code.
static long MeasureStatus(SimulatedBmc *bmc, double *exitMs)
{
    bmc->Reset();
    bmc->HoldRequests(1, false);
    long exitCode = RunBesideThis("zynwatch.exe", "-status", kLimitMs, exitMs);
    bmc->ReleaseHeld();
    return exitCode;
}

int main()
{
    SimulatedBmc bmc;
    if (!bmc.Connected()) {
        printf("the simulated driver does not answer\n");
        return 1;
    }
    // Installed as an administrator installs it, with a heartbeat every second.
    if (RunBesideThis("zynwatch.exe", "-install", kLimitMs, nullptr) != 0) {
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

    printf("requests the driver never completes, nor lets be cancelled\n");
    double toEntryMs = 0, stopMs = 0;
    if (MeasureUnansweredHeartbeat(service, &bmc, &toEntryMs, &stopMs)) {
        printf("  heartbeat without an answer -> its event  %8.1f s   (goal <= 30 s)\n", toEntryMs / 1000.0);
        printf("  stop control -> SERVICE_STOPPED, every request hanging  %.1f s\n", stopMs / 1000.0);
    } else {
        printf("  heartbeat without an answer -> its event  not within %lu s\n", kLimitMs / 1000);
    }
    double worstMs = 0;
    long exitCode = 0;
    for (int run = 0; run < 3 && exitCode >= 0; ++run) {
        double exitMs = 0;
        exitCode = MeasureStatus(&bmc, &exitMs);
        worstMs = std::max(worstMs, exitMs);
    }
    if (exitCode >= 0) {
        printf("  zynwatch -status, BMC never answers -> exit  %8.1f s worst of 3, exit code %ld   (goal <= 20 s)\n",
               worstMs / 1000.0, exitCode);
    } else {
        printf("  zynwatch -status, BMC never answers -> exit  not within %lu s\n", kLimitMs / 1000);
    }
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    bmc.Reset();
    return 0;
}
