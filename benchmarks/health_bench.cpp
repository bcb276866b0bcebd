// The service with health checks under the SCM against the simulated BMC, "HeartbeatInterval" 1:
// from a check that starts failing to the last heartbeat before they are withheld, measured
// against the grace period, and the longest heartbeat gap while a check command hangs.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "configuration/service_configuration.h"
#include "health/health_records.h"
#include "service_identity.h"
#include "session_table.h"
#include "simulated_bmc.h"
#include "watchdog/watchdog.h"
#include "zynwatch_test_support.h"

const DWORD kHeartbeatSeconds = 1;
const DWORD kCheckSeconds = 5;
const DWORD kGraceSeconds = 30;
const DWORD kHangLimitSeconds = 5;
const DWORD kHungRunMs = 20000;
const char kFolder[] = "C:\\zynhealthbench";
const char kMarker[] = "C:\\zynhealthbench\\marker";
const char kHealthKey[] = "System\\CurrentControlSet\\Services\\ZynAsrService\\Health";

static bool SetText(const char *name, const std::string &text)
{
    return WriteServiceValue(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// The first check's state as the service publishes it.
static uint8_t FirstCheckState()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHealthKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return kCheckNotYet;
    uint8_t bytes[kCheckRecordSize];
    DWORD size = sizeof(bytes);
    LONG error = RegQueryValueExA(key, "Check0", nullptr, nullptr, bytes, &size);
    RegCloseKey(key);
    HealthCheckRecord record = {};
    char label[kHealthLabelSize];
    if (error != ERROR_SUCCESS || !DecodeCheckRecord(bytes, size, &record, label)) return kCheckNotYet;
    return record.state;
}

static bool WaitFor(bool (*condition)(SimulatedBmc *), SimulatedBmc *bmc, DWORD limitMs)
{
    DWORD start = GetTickCount();
    while (!condition(bmc)) {
        if (GetTickCount() - start > limitMs) return false;
        Sleep(50);
    }
    return true;
}

static bool Stopped(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status = {};
    return QueryServiceState(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
}

static void StopService(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 300 && !Stopped(service); ++i) Sleep(50);
}

static void StartService(SC_HANDLE service, SimulatedBmc *bmc)
{
    bmc->Reset();
    StartServiceA(service, 0, nullptr);
    while (bmc->LoggedCount() < kStartRequests + 1) Sleep(10);
}

// Arrivals of the Reset Watchdog Timer requests after counter, by the driver's clock.
static std::vector<long long> ResetsAfter(SimulatedBmc *bmc, long long counter)
{
    std::vector<long long> arrivals;
    for (const ImbSimLogEntry &e : bmc->ReadLog()) {
        if (e.counter > counter && e.packet[9] == 0x22) arrivals.push_back(e.counter);
    }
    return arrivals;
}

// From the marker that makes the check fail to the last heartbeat before the gap, and from the
// marker's removal to the first heartbeat after it.
static void MeasureWithholding(SC_HANDLE service, SimulatedBmc *bmc)
{
    SetText("HealthCommand", std::string("cmd /c if exist ") + kMarker + " exit 1");
    StartService(service, bmc);
    WaitFor([](SimulatedBmc *) { return FirstCheckState() == kCheckPassed; }, bmc, 30000);
    long long failed = CounterNow();
    CloseHandle(CreateFileA(kMarker, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    long long frequency = CounterFrequency();
    // Withheld once no heartbeat came for three intervals.
    auto withheld = [](SimulatedBmc *bmc) {
        std::vector<long long> all = ResetsAfter(bmc, 0);
        return !all.empty() && CounterMs(all.back(), CounterNow(), CounterFrequency()) > 3000.0 * kHeartbeatSeconds;
    };
    bool seen = WaitFor(withheld, bmc, (kGraceSeconds + 3 * kCheckSeconds) * 1000);
    std::vector<long long> resets = ResetsAfter(bmc, failed);
    double lastMs = seen && !resets.empty() ? CounterMs(failed, resets.back(), frequency) : -1;
    long long passed = CounterNow();
    DeleteFileA(kMarker);
    WaitFor([](SimulatedBmc *bmc) { return FirstCheckState() == kCheckPassed; }, bmc, 30000);
    Sleep(2000);
    resets = ResetsAfter(bmc, passed);
    double resumedMs = resets.empty() ? -1 : CounterMs(passed, resets.front(), frequency);
    StopService(service);
    printf("health checks, HeartbeatInterval %lu s, HealthCheckInterval %lu s, HealthGracePeriod %lu s\n",
           kHeartbeatSeconds, kCheckSeconds, kGraceSeconds);
    printf("  a check failing -> heartbeats withheld  %8.1f s   (goal <= grace period + one check interval = %lu s)\n",
           lastMs / 1000.0, kGraceSeconds + kCheckSeconds);
    printf("  the check passing -> heartbeats resumed %8.1f s\n", resumedMs / 1000.0);
}

// The longest gap between heartbeats over a run of kHungRunMs, by the driver's clock.
static double LongestGap(SC_HANDLE service, SimulatedBmc *bmc, size_t *heartbeats)
{
    StartService(service, bmc);
    long long started = CounterNow();
    Sleep(kHungRunMs);
    StopService(service);
    std::vector<long long> resets = ResetsAfter(bmc, started);
    double longest = 0;
    for (size_t i = 1; i < resets.size(); ++i) {
        longest = std::max(longest, CounterMs(resets[i - 1], resets[i], CounterFrequency()));
    }
    *heartbeats = resets.size();
    return longest;
}

// The longest heartbeat gap while every check command hangs until its time limit, beside the same
// run without a check command.
static void MeasureHungCheck(SC_HANDLE service, SimulatedBmc *bmc, double requestMs)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "HealthCommand");
        RegCloseKey(key);
    }
    size_t plainCount = 0, hungCount = 0;
    double plain = LongestGap(service, bmc, &plainCount);
    SetText("HealthCommand", "cmd /c \"" + ProgramBesideThis("zyntest.exe") + "\" sleep 600");
    WriteServiceDword("HealthCommandTimeout", kHangLimitSeconds);
    WriteServiceDword("HealthCheckInterval", 1);
    double hung = LongestGap(service, bmc, &hungCount);
    printf("  a hung check -> the longest heartbeat gap %8.1f ms over %zu heartbeats   (goal <= interval + one request = %.1f ms)\n",
           hung, hungCount, kHeartbeatSeconds * 1000.0 + requestMs);
    printf("  without a check, the longest heartbeat gap %7.1f ms over %zu heartbeats\n", plain, plainCount);
}

// The product's own request, from opening the device to closing it, as the service sends it.
static double RequestMs()
{
    const int rounds = 50;
    long long start = CounterNow();
    for (int i = 0; i < rounds; ++i) ResetWatchdog();
    return CounterMs(start, CounterNow(), CounterFrequency()) / rounds;
}

// The service as installed, with a heartbeat every second and the checks' pace and grace.
static SC_HANDLE CreateCheckedService(SC_HANDLE manager)
{
    std::string path = ProgramBesideThis("zynwatch.exe");
    SC_HANDLE service = CreateServiceA(manager, kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) return nullptr;
    WriteServiceConfiguration(3, 0);
    WriteServiceDword("HeartbeatInterval", kHeartbeatSeconds);
    WriteServiceDword("HealthCheckInterval", kCheckSeconds);
    WriteServiceDword("HealthGracePeriod", kGraceSeconds);
    return service;
}

int main()
{
    SimulatedBmc bmc;
    if (!bmc.Connected() || !CreateSessionTable()) {
        printf("the simulated driver does not answer\n");
        return 1;
    }
    bmc.Reset();
    ArmWatchdog(WatchdogSettings{3, 0, 300, 0, 0, 0});
    double requestMs = RequestMs();
    CreateDirectoryA(kFolder, nullptr);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateCheckedService(manager);
    if (service != nullptr) {
        MeasureWithholding(service, &bmc);
        MeasureHungCheck(service, &bmc, requestMs);
        DeleteService(service);
        CloseServiceHandle(service);
    } else {
        printf("cannot create the service (%lu)\n", GetLastError());
    }
    CloseServiceHandle(manager);
    DeleteFileA(kMarker);
    RemoveDirectoryA(kFolder);
    return service != nullptr ? 0 : 1;
}
