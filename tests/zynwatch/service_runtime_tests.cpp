// The service run through Wine's Service Control Manager against the simulated BMC: states as
// the SCM reports them, heartbeats by the driver's clock, stop, interrogate and start failures.
#include "service_runtime_fixture.h"

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
    // The injected answer replaces the driver's default, so it carries the delay too: without it
    // the running state lasts one request's time and the watcher can miss it.
    ImbSimBehaviour rejectArm = {};
    rejectArm.requestCount = 1;
    rejectArm.fields = IMBSIM_SET_COMPLETION_CODE | IMBSIM_SET_DELAY;
    rejectArm.completionCode = 0xC1;
    rejectArm.delayMs = 1500;
    ASSERT_TRUE(bmc_->SetBehaviour(rejectArm));
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
