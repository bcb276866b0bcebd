// The service run through Wine's Service Control Manager against the simulated BMC: states as
// the SCM reports them, heartbeats by the driver's clock, stop, interrogate and start failures.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "service_configuration.h"
#include "service_identity.h"
#include "simulated_bmc.h"
#include "test_helpers.h"
#include "zynwatch_test_support.h"

struct ReportedStatus {
    DWORD state, exitCode, checkPoint, waitHint, controls;
    bool operator==(const ReportedStatus &o) const
    {
        return state == o.state && exitCode == o.exitCode && checkPoint == o.checkPoint && waitHint == o.waitHint &&
               controls == o.controls;
    }
};

static ReportedStatus Reported(const SERVICE_STATUS_PROCESS &s)
{
    return {s.dwCurrentState, s.dwWin32ExitCode, s.dwCheckPoint, s.dwWaitHint, s.dwControlsAccepted};
}

static ReportedStatus Reported(const SERVICE_STATUS &s)
{
    return {s.dwCurrentState, s.dwWin32ExitCode, s.dwCheckPoint, s.dwWaitHint, s.dwControlsAccepted};
}

static std::string Describe(const ReportedStatus &s)
{
    return "state=" + std::to_string(s.state) + " exit=" + std::to_string(s.exitCode) + " checkpoint=" +
           std::to_string(s.checkPoint) + " wait=" + std::to_string(s.waitHint) + " controls=" +
           std::to_string(s.controls);
}

// A record the service can have sent: fields that belong together for its state.
static bool Consistent(const ReportedStatus &s)
{
    switch (s.state) {
    case SERVICE_START_PENDING:
        // Before the service's first report Wine's SCM shows a start-pending record of its own.
        return s.controls == 0 && s.exitCode == 0 &&
               ((s.waitHint == 3000 && (s.checkPoint == 1 || s.checkPoint == 2)) ||
                (s.waitHint == 0 && s.checkPoint == 0));
    case SERVICE_RUNNING:
        return s.controls == SERVICE_ACCEPT_STOP && s.exitCode == 0 && s.checkPoint == 0 && s.waitHint == 0;
    case SERVICE_STOP_PENDING:
        return s.controls == SERVICE_ACCEPT_STOP && (s.exitCode == 0 || s.exitCode == 20) && s.checkPoint >= 3 &&
               s.waitHint == 0;
    case SERVICE_STOPPED:
        // Wine's SCM shows a service that has not run yet with ERROR_SERVICE_NEVER_STARTED.
        if (s.exitCode == ERROR_SERVICE_NEVER_STARTED) return s.controls == 0 && s.checkPoint == 0;
        return s.checkPoint == 0 && s.waitHint == 0 && (s.exitCode == 0 || s.exitCode == 20);
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
            WaitForSingleObject(thread_, INFINITE);
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
        std::string path = ZYN_TEST_ZYNWATCH_EXE;
        for (char &c : path) c = c == '/' ? '\\' : c;
        service_ = CreateServiceA(manager_, kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(),
                                  nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, service_) << GetLastError();
        WriteServiceConfiguration(3, 0);
        SetHeartbeatInterval(1);
        logOffset_ = DebugLogSize();
    }

    void TearDown() override
    {
        if (service_ != nullptr) CloseServiceHandle(service_);
        if (manager_ != nullptr) CloseServiceHandle(manager_);
        EXPECT_TRUE(RemoveServiceIfPresent(kServiceName));
        if (driverDefaultsChanged_) {
            SetSimulatedDriverDefault("ResponseDelayMs", -1);
            ControlSimulatedDriver(false);
        }
        EXPECT_TRUE(ControlSimulatedDriver(true));
        SimulatedBmc bmc;
        bmc.Reset();
    }

    void SetHeartbeatInterval(DWORD seconds)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_SET_VALUE, &key));
        RegSetValueExA(key, "HeartbeatInterval", 0, REG_DWORD, reinterpret_cast<BYTE *>(&seconds), sizeof(seconds));
        RegCloseKey(key);
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

    void Start()
    {
        ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
    }

    SERVICE_STATUS StopAndWait()
    {
        SERVICE_STATUS status = {};
        EXPECT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 15000));
        return status;
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
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
    long long logOffset_ = 0;
    bool driverDefaultsChanged_ = false;
};

const std::vector<uint8_t> kArmInstalled = {0x24, 0x04, 0x03, 0x00, 0x10, 0xB8, 0x0B};
const std::vector<uint8_t> kReset = {0x22};
const std::vector<uint8_t> kStop = {0x24, 0x04, 0x00, 0x00, 0x10, 0xB8, 0x0B};
const ReportedStatus kRunning = {SERVICE_RUNNING, 0, 0, 0, SERVICE_ACCEPT_STOP};
const ReportedStatus kStopPending = {SERVICE_STOP_PENDING, 0, 3, 0, SERVICE_ACCEPT_STOP};
const ReportedStatus kStopped = {SERVICE_STOPPED, 0, 0, 0, SERVICE_ACCEPT_STOP};
const ReportedStatus kFailedStopPending = {SERVICE_STOP_PENDING, 20, 3, 0, SERVICE_ACCEPT_STOP};
const ReportedStatus kFailedStopped = {SERVICE_STOPPED, 20, 0, 0, SERVICE_ACCEPT_STOP};

TEST_F(ServiceRuntime, RunsArmsHeartbeatsAndStopsTheWatchdogAsItStops)
{
    ASSERT_TRUE(bmc_->DelayAnswers(300, IMBSIM_EVERY_REQUEST));  // keeps each state long enough to be seen
    StatusWatcher watcher(service_);
    Start();
    ASSERT_TRUE(WaitForLogged(3, 10000));
    SERVICE_STATUS control = StopAndWait();
    EXPECT_EQ(Describe(kStopPending), Describe(Reported(control))) << "the control's own answer";
    ExpectSeenInOrder(watcher.Stop(), {kRunning, kStopPending, kStopped});
    std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog());
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(kArmInstalled, commands.front());
    for (size_t i = 1; i + 1 < commands.size(); ++i) EXPECT_EQ(kReset, commands[i]) << "request " << i;
    EXPECT_EQ(kStop, commands.back());
    EXPECT_EQ(0, bmc_->ReadWatchdog().running);
    EXPECT_EQ(std::vector<std::string>{}, EventLogStringsSince(logOffset_));
}

TEST_F(ServiceRuntime, HeartbeatsFollowTheIntervalAndAChangeTakesEffectAtTheNextWait)
{
    Start();
    ASSERT_TRUE(WaitForLogged(5, 10000));
    SetHeartbeatInterval(2);
    ASSERT_TRUE(WaitForLogged(7, 10000));
    StopAndWait();
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    ASSERT_GE(log.size(), 8u);
    std::vector<std::vector<uint8_t>> commands = Commands(log);
    EXPECT_EQ(kArmInstalled, commands[0]);
    std::vector<double> gaps;
    for (size_t i = 2; i <= 6; ++i) {
        EXPECT_EQ(kReset, commands[i]);
        gaps.push_back(CounterMs(log[i - 1].counter, log[i].counter, frequency));
    }
    EXPECT_LT(gaps[0], 500) << "the loop's first reset follows the starting one at once";
    for (size_t i = 1; i < 4; ++i) EXPECT_NEAR(1000, gaps[i], 300) << "gap " << i;
    EXPECT_NEAR(2000, gaps[4], 300) << "the interval read before this pass was 2";
}

TEST_F(ServiceRuntime, AStopDuringAWaitEndsItAtOnce)
{
    SetHeartbeatInterval(60);
    Start();
    ASSERT_TRUE(WaitForLogged(3, 10000));
    Sleep(200);
    LARGE_INTEGER controlled;
    QueryPerformanceCounter(&controlled);
    SERVICE_STATUS control = StopAndWait();
    EXPECT_EQ(Describe(kStopPending), Describe(Reported(control)));
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    ASSERT_EQ(4u, log.size()) << "arm, two resets, stop";
    EXPECT_EQ(kStop, Commands(log).back());
    double stopAfterControl = CounterMs(controlled.QuadPart, log.back().counter, frequency);
    EXPECT_GT(stopAfterControl, 0);
    EXPECT_LT(stopAfterControl, 2000) << "the 60 s wait did not run out";
}

TEST_F(ServiceRuntime, InterrogateWhileRunningReportsRunning)
{
    Start();
    ASSERT_TRUE(WaitForLogged(2, 10000));
    SERVICE_STATUS status = {};
    ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_INTERROGATE, &status)) << GetLastError();
    EXPECT_EQ(Describe(kRunning), Describe(Reported(status)));
    SERVICE_STATUS_PROCESS process = {};
    ASSERT_TRUE(QueryServiceState(service_, &process));
    EXPECT_EQ(Describe(kRunning), Describe(Reported(process)));
    EXPECT_NE(0u, process.dwProcessId);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), process.dwServiceType);
    EXPECT_EQ(0u, process.dwServiceSpecificExitCode);
    StopAndWait();
}

TEST_F(ServiceRuntime, ShutdownIsNotAnAcceptedControl)
{
    Start();
    ASSERT_TRUE(WaitForLogged(2, 10000));
    SERVICE_STATUS status = {};
    SetLastError(kLastErrorSentinel);
    EXPECT_FALSE(ControlService(service_, SERVICE_CONTROL_PAUSE, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL), GetLastError());
    StopAndWait();
}

// Interrogate controls arrive on the dispatcher's thread while the service thread reports its
// start, start failure and stop: every record the SCM shows must be one the service meant.
TEST_F(ServiceRuntime, ReportsOfTheTwoThreadsNeverInterleave)
{
    struct Hammer {
        SC_HANDLE service;
        std::atomic<bool> stop{false};
        std::vector<ReportedStatus> answers;
        static DWORD WINAPI Run(void *self)
        {
            Hammer *hammer = static_cast<Hammer *>(self);
            while (!hammer->stop) {
                SERVICE_STATUS status = {};
                if (ControlService(hammer->service, SERVICE_CONTROL_INTERROGATE, &status)) {
                    hammer->answers.push_back(Reported(status));
                }
            }
            return 0;
        }
    };
    std::vector<ReportedStatus> seen;
    size_t answered = 0;
    for (int cycle = 0; cycle < 8; ++cycle) {
        bool failing = cycle % 2 == 1;
        ASSERT_TRUE(bmc_->Reset());
        if (failing) ASSERT_TRUE(bmc_->AnswerWithCompletionCode(0xC1, IMBSIM_EVERY_REQUEST));
        Hammer hammers[3];
        HANDLE threads[3];
        StatusWatcher watcher(service_);
        for (int i = 0; i < 3; ++i) {
            hammers[i].service = service_;
            threads[i] = CreateThread(nullptr, 0, Hammer::Run, &hammers[i], 0, nullptr);
        }
        Start();
        if (failing) {
            EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 15000));
        } else {
            EXPECT_TRUE(WaitForLogged(2, 10000));
            StopAndWait();
        }
        for (int i = 0; i < 3; ++i) {
            hammers[i].stop = true;
            WaitForSingleObject(threads[i], INFINITE);
            CloseHandle(threads[i]);
            for (const ReportedStatus &s : hammers[i].answers) EXPECT_TRUE(Consistent(s)) << Describe(s);
            answered += hammers[i].answers.size();
        }
        std::vector<ReportedStatus> cycleSeen = watcher.Stop();
        seen.insert(seen.end(), cycleSeen.begin(), cycleSeen.end());
        SERVICE_STATUS_PROCESS last = {};
        ASSERT_TRUE(QueryServiceState(service_, &last));
        EXPECT_EQ(Describe(failing ? kFailedStopped : kStopped), Describe(Reported(last))) << "cycle " << cycle;
        Sleep(100);  // let the process end before the next start
    }
    for (const ReportedStatus &s : seen) EXPECT_TRUE(Consistent(s)) << Describe(s);
    EXPECT_GT(answered, 0u) << "some interrogate controls reached the running service";
}

TEST_F(ServiceRuntime, BmcRejectingTheArmStopsTheServiceWithExitCode20)
{
    RestartDriverWithDelay(1500);  // the stop request after the failure takes long enough to be seen
    ASSERT_TRUE(bmc_->AnswerWithCompletionCode(0xC1));
    StatusWatcher watcher(service_);
    Start();
    EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 15000));
    ExpectSeenInOrder(watcher.Stop(), {kRunning, kFailedStopPending, kFailedStopped});
    std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog());
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{kArmInstalled, kStop}), commands) << "no reset after a failed arm";
    std::vector<std::string> strings = EventLogStringsSince(logOffset_);
    ASSERT_EQ(2u, strings.size()) << "one entry with two strings";
    EXPECT_EQ(0u, strings[0].rfind("ZynAsrService error: ", 0)) << strings[0];
    EXPECT_EQ("The service cann't be started since failed to launch device or driver!", strings[1]);
}

// Windows would show the entry in the Application log with these two insertion strings; Wine
// keeps no readable log and prints each string on its err:eventlog channel instead.
TEST_F(ServiceRuntime, DriverAbsentStopsTheServiceWithExitCode20AndOneEntry)
{
    ASSERT_TRUE(ControlSimulatedDriver(false));
    StatusWatcher watcher(service_);
    Start();
    EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 15000));
    ExpectSeenInOrder(watcher.Stop(), {kFailedStopped});
    SERVICE_STATUS_PROCESS last = {};
    ASSERT_TRUE(QueryServiceState(service_, &last));
    EXPECT_EQ(Describe(kFailedStopped), Describe(Reported(last)));
    EXPECT_EQ((std::vector<std::string>{"ZynAsrService error: 2",
                                        "The service cann't be started since failed to launch device or driver!"}),
              EventLogStringsSince(logOffset_))
        << "the device's absence (ERROR_FILE_NOT_FOUND) is the last error when the entry is written";
}
