#pragma once
// The service created with Wine's Service Control Manager for this program's tests: status
// records as the SCM shows them, a watcher that keeps every change, and the simulated driver.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "configuration/service_configuration.h"
#include "guards.h"
#include "service/service_runtime.h"
#include "service_identity.h"
#include "service_messages.h"
#include "simulated_bmc.h"
#include "test_helpers.h"
#include "watchdog/watchdog_keeper.h"
#include "zynwatch_test_support.h"

struct ReportedStatus {
    DWORD state, exitCode, checkPoint, waitHint, controls;
    bool operator==(const ReportedStatus &o) const
    {
        return state == o.state && exitCode == o.exitCode && checkPoint == o.checkPoint && waitHint == o.waitHint &&
               controls == o.controls;
    }
};

inline ReportedStatus Reported(const SERVICE_STATUS_PROCESS &s)
{
    return {s.dwCurrentState, s.dwWin32ExitCode, s.dwCheckPoint, s.dwWaitHint, s.dwControlsAccepted};
}

inline ReportedStatus Reported(const SERVICE_STATUS &s)
{
    return {s.dwCurrentState, s.dwWin32ExitCode, s.dwCheckPoint, s.dwWaitHint, s.dwControlsAccepted};
}

inline std::string Describe(const ReportedStatus &s)
{
    return "state=" + std::to_string(s.state) + " exit=" + std::to_string(s.exitCode) + " checkpoint=" +
           std::to_string(s.checkPoint) + " wait=" + std::to_string(s.waitHint) + " controls=" +
           std::to_string(s.controls);
}

inline std::string Describe(const LoggedEvent &e)
{
    std::string text = "type=" + std::to_string(e.type) + " id=" + std::to_string(e.id);
    for (const std::string &s : e.strings) text += " \"" + s + "\"";
    return text;
}

// The entries as "type id strings..." lines, for one comparison with all of them.
inline std::vector<std::string> Described(const std::vector<LoggedEvent> &entries)
{
    std::vector<std::string> lines;
    for (const LoggedEvent &e : entries) lines.push_back(Describe(e));
    return lines;
}

inline std::string Entry(WORD type, DWORD id, std::vector<std::string> strings)
{
    return Describe(LoggedEvent{"", type, id, strings});
}

// A record the service can have sent: fields that belong together for its state.
inline bool Consistent(const ReportedStatus &s)
{
    switch (s.state) {
    case SERVICE_START_PENDING:
        // Before the service's first report Wine's SCM shows a start-pending record of its own; the
        // second lasts until the watchdog is armed.
        return s.controls == 0 && s.exitCode == 0 &&
               ((s.waitHint == 3000 && s.checkPoint == 1) || (s.waitHint == kKeeperStartWaitHintMs && s.checkPoint == 2) ||
                (s.waitHint == 0 && s.checkPoint == 0));
    case SERVICE_RUNNING:
        return (s.controls == kRunningControls || s.controls == (kRunningControls | SERVICE_ACCEPT_PRESHUTDOWN) ||
                s.controls == (kRunningControls | SERVICE_ACCEPT_SHUTDOWN)) &&
               s.exitCode == 0 && s.checkPoint == 0 && s.waitHint == 0;
    case SERVICE_STOP_PENDING:
        // The stop control's answer waits 0 ms; a retried stop request or the shutdown phase asks for longer.
        return s.controls == SERVICE_ACCEPT_STOP && (s.exitCode == 0 || s.exitCode == 20) && s.checkPoint >= 3 &&
               (s.waitHint == 0 || s.waitHint == kStopRetryWaitHintMs || s.waitHint == kShutdownWaitHint);
    case SERVICE_STOPPED:
        // Wine's SCM shows a service that has not run yet with ERROR_SERVICE_NEVER_STARTED.
        if (s.exitCode == ERROR_SERVICE_NEVER_STARTED) return s.controls == 0 && s.checkPoint == 0;
        return s.checkPoint == 0 && s.waitHint == 0 &&
               (s.exitCode == 0 || s.exitCode == 20 || s.exitCode == kStopFailureExitCode);
    default:
        return false;
    }
}

// Polls QueryServiceStatusEx on a thread of its own and keeps every change of the record.
class StatusWatcher {
public:
    explicit StatusWatcher(SC_HANDLE service) : service_(service)
    {
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~StatusWatcher() { Stop(); }

    std::vector<ReportedStatus> Stop()
    {
        if (thread_ != nullptr) {
            stop_ = true;
            JOIN_THREADS(&thread_, 1, 10000);  // a query of the SCM that never returns
            CloseHandle(thread_);
            thread_ = nullptr;
            Sample();  // the state the caller waited for, should the thread have missed it
        }
        return seen_;
    }

private:
    void Sample()
    {
        SERVICE_STATUS_PROCESS status = {};
        if (!QueryServiceState(service_, &status)) return;
        ReportedStatus reported = Reported(status);
        if (seen_.empty() || !(seen_.back() == reported)) seen_.push_back(reported);
    }

    static DWORD WINAPI Run(void *self)
    {
        StatusWatcher *watcher = static_cast<StatusWatcher *>(self);
        while (!watcher->stop_) {
            watcher->Sample();
            Sleep(1);
        }
        return 0;
    }

    SC_HANDLE service_;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::vector<ReportedStatus> seen_;
};

class ServiceRuntime : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bmc_->Connected()) << "the simulated driver does not answer at " IMB_DEVICE_PATH_A;
        ASSERT_TRUE(bmc_->Reset());
        ASSERT_TRUE(RemoveServiceIfPresent(kServiceName));
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, manager_);
        service_ = CreateZynwatchService(manager_);
        ASSERT_NE(nullptr, service_) << GetLastError();
        WriteServiceConfiguration(3, 0);
        SetHeartbeatInterval(1);
        SetServiceDword("SelEvents", 0);  // the tests of the BMC's log turn it on
        logOffset_ = DebugLogSize();
    }

    void TearDown() override
    {
        if (service_ != nullptr) CloseServiceHandle(service_);
        if (manager_ != nullptr) CloseServiceHandle(manager_);
        EXPECT_TRUE(RemoveServiceIfPresent(kServiceName));
        if (driverDefaultsChanged_) {
            EXPECT_TRUE(SetSimulatedDriverDefault("ResponseDelayMs", -1));
            EXPECT_TRUE(ControlSimulatedDriver(false));
        }
        EXPECT_TRUE(ControlSimulatedDriver(true));
        SimulatedBmc bmc;
        EXPECT_TRUE(bmc.Reset()) << "the next test would start from this one's BMC";
    }

    void SetHeartbeatInterval(DWORD seconds) { SetServiceDword("HeartbeatInterval", seconds); }

    void SetServiceDword(const char *name, DWORD value)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_SET_VALUE, &key));
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&value), sizeof(value)));
        RegCloseKey(key);
    }

    // The service runs as the control host, the service program to which the tests hand the
    // controls Wine never sends (preshutdown_host.cpp).
    void RunInControlHost()
    {
        std::string host = ZYN_TEST_PRESHUTDOWN_HOST_EXE;
        for (char &c : host) c = c == '/' ? '\\' : c;
        ASSERT_TRUE(ChangeServiceConfigA(service_, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         host.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    }

    // Sets the control host's named event, which hands its control to the service's handler.
    static bool DeliverControl(const char *event)
    {
        HANDLE trigger = OpenEventA(EVENT_MODIFY_STATE, FALSE, event);
        if (trigger == nullptr) return false;
        bool set = SetEvent(trigger) != FALSE;
        CloseHandle(trigger);
        return set;
    }

    // The driver answers every request after delayMs from its (re)start on.
    void RestartDriverWithDelay(DWORD delayMs)
    {
        driverDefaultsChanged_ = true;
        ASSERT_TRUE(ControlSimulatedDriver(false));
        ASSERT_TRUE(SetSimulatedDriverDefault("ResponseDelayMs", delayMs));
        ASSERT_TRUE(ControlSimulatedDriver(true));
        bmc_.reset(new SimulatedBmc());  // the old device went with the driver
    }

    bool WaitForLogged(uint32_t count, DWORD limitMs)
    {
        DWORD start = GetTickCount();
        while (bmc_->LoggedCount() < count) {
            if (GetTickCount() - start > limitMs) return false;
            Sleep(5);
        }
        return true;
    }

    bool Running()
    {
        SERVICE_STATUS_PROCESS status = {};
        return QueryServiceState(service_, &status) && status.dwCurrentState == SERVICE_RUNNING;
    }

    void Start()
    {
        ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
        SERVICE_STATUS_PROCESS status = {};
        if (QueryServiceState(service_, &status) && status.dwProcessId != 0) {
            process_.Reset(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
        }
    }

    // The SCM refuses to start a service whose stopped process has not ended yet.
    void WaitForServiceProcessEnd()
    {
        if (process_.Valid()) EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process_.Get(), 15000));
        process_.Reset();
    }

    SERVICE_STATUS StopAndWait()
    {
        SERVICE_STATUS status = {};
        EXPECT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 15000));
        return status;
    }

    // Starts the service, waits for its start and one heartbeat, sees it run and stops it; gives the
    // command bytes of every request the driver logged.
    std::vector<std::vector<uint8_t>> RunThroughOneHeartbeat()
    {
        Start();
        EXPECT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
        EXPECT_TRUE(Running());
        StopAndWait();
        return Commands(bmc_->ReadLog());
    }

    // The command bytes (command and data) of each request the driver logged.
    std::vector<std::vector<uint8_t>> Commands(std::vector<ImbSimLogEntry> log)
    {
        std::vector<std::vector<uint8_t>> commands;
        for (const ImbSimLogEntry &e : log) {
            std::vector<uint8_t> command = {e.packet[9]};
            for (uint8_t i = 0; i < e.packet[12] && i < 51; ++i) command.push_back(e.packet[13 + i]);
            commands.push_back(command);
        }
        return commands;
    }

    // Waits until count requests that arrived after counter (QueryPerformanceCounter's clock) are logged.
    bool WaitForLoggedAfter(long long counter, size_t count, DWORD limitMs)
    {
        DWORD start = GetTickCount();
        for (;;) {
            std::vector<ImbSimLogEntry> log = bmc_->ReadLog();
            if (log.size() - FirstArrivedAfter(log, counter) >= count) return true;
            if (GetTickCount() - start > limitMs) return false;
            Sleep(20);
        }
    }

    // Writes HeartbeatInterval, notes the moment on the driver's clock in *written, and waits for
    // count requests after it; the moment, not the write's wall-clock timing, is what tests judge by.
    bool ChangeIntervalAndWait(DWORD seconds, size_t count, long long *written)
    {
        SetHeartbeatInterval(seconds);
        *written = CounterNow();
        return WaitForLoggedAfter(*written, count, 15000);
    }

    // The index of the first logged request that arrived after counter; the log's size if none did.
    static size_t FirstArrivedAfter(const std::vector<ImbSimLogEntry> &log, long long counter)
    {
        size_t i = 0;
        while (i < log.size() && log[i].counter <= counter) ++i;
        return i;
    }

    // Waits until the request log holds one more request with command bytes than it held at first.
    bool WaitForCommand(const std::vector<uint8_t> &command, uint32_t first, DWORD limitMs)
    {
        DWORD start = GetTickCount();
        for (;;) {
            std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog(first));
            for (const std::vector<uint8_t> &c : commands) {
                if (c == command) return true;
            }
            if (GetTickCount() - start > limitMs) return false;
            Sleep(20);
        }
    }

    static void ExpectSeenInOrder(const std::vector<ReportedStatus> &seen, const std::vector<ReportedStatus> &expected)
    {
        size_t next = 0;
        std::string all;
        for (const ReportedStatus &s : seen) {
            all += "\n  " + Describe(s);
            EXPECT_TRUE(Consistent(s)) << Describe(s);
            if (next < expected.size() && s == expected[next]) ++next;
        }
        EXPECT_EQ(expected.size(), next) << "missing " << (next < expected.size() ? Describe(expected[next]) : "")
                                         << "; seen:" << all;
    }

    std::unique_ptr<SimulatedBmc> bmc_{new SimulatedBmc()};
    UniqueHandle process_;  // of the last start, while it may still run
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
    long long logOffset_ = 0;
    bool driverDefaultsChanged_ = false;
};

const std::vector<uint8_t> kArmInstalled = {0x24, 0x04, 0x03, 0x00, 0x10, 0xB8, 0x0B};
const std::vector<uint8_t> kGet = {0x25};
const std::vector<uint8_t> kReset = {0x22};
// The start's kStartRequests requests with the install values.
const std::vector<std::vector<uint8_t>> kStartInstalled = {kGet, kArmInstalled, kGet, kReset};
const std::vector<uint8_t> kStop = {0x24, 0x04, 0x00, 0x00, 0x10, 0xB8, 0x0B};
const ReportedStatus kArming = {SERVICE_START_PENDING, 0, 2, kKeeperStartWaitHintMs, 0};
// The operating system's events in the BMC's log: Platform Event Message with their data.
const std::vector<uint8_t> kBootEvent = {0x02, 0x41, 0x04, 0x1F, 0x00, 0x6F, 0x06, 0xFF, 0xFF};
const std::vector<uint8_t> kShutdownEvent = {0x02, 0x41, 0x04, 0x20, 0x00, 0x6F, 0x03, 0xFF, 0xFF};
const ReportedStatus kRunning = {SERVICE_RUNNING, 0, 0, 0, kRunningControls};
const ReportedStatus kStopPending = {SERVICE_STOP_PENDING, 0, 3, 0, SERVICE_ACCEPT_STOP};
const ReportedStatus kStopped = {SERVICE_STOPPED, 0, 0, 0, SERVICE_ACCEPT_STOP};
const ReportedStatus kFailedStopPending = {SERVICE_STOP_PENDING, 20, 3, 0, SERVICE_ACCEPT_STOP};
const ReportedStatus kFailedStopped = {SERVICE_STOPPED, 20, 0, 0, SERVICE_ACCEPT_STOP};
