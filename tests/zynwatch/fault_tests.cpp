// The service when the BMC and its driver misbehave: a BMC that answers near the 5-second
// timeout, a driver that goes away and comes back, and failing answers at every step.
#include "service_runtime_fixture.h"

#include <algorithm>

#include "session_table.h"
#include "watchdog.h"

// How the driver answers an injected request.
struct Answer {
    const char *name;
    uint32_t fields;
    uint32_t value;
};

const Answer kFailingAnswers[] = {
    {"0x80", IMBSIM_SET_COMPLETION_CODE, 0x80},  // timer not initialised, as after a BMC reset
    {"0xC1", IMBSIM_SET_COMPLETION_CODE, 0xC1},
    {"0xFF", IMBSIM_SET_COMPLETION_CODE, 0xFF},
    {"timeout", IMBSIM_SET_STATUS, IMB_STATUS_TIMEOUT},
};

class ServiceFaults : public ServiceRuntime {
protected:
    // Requests number first on (0 the arm, 1 the starting reset), count of them, get the answer.
    void InjectAt(uint32_t first, uint32_t count, const Answer &answer)
    {
        ImbSimBehaviour behaviour = {};
        behaviour.skipCount = first;
        behaviour.requestCount = count;
        behaviour.fields = answer.fields;
        behaviour.completionCode = answer.value;
        behaviour.status = answer.value;
        ASSERT_TRUE(bmc_->SetBehaviour(behaviour));
    }

    bool Running()
    {
        SERVICE_STATUS_PROCESS status = {};
        return QueryServiceState(service_, &status) && status.dwCurrentState == SERVICE_RUNNING;
    }

    // A stop during a wait: the control is answered at once, the stop request follows.
    double StopMs(SERVICE_STATUS *answer)
    {
        LARGE_INTEGER start, now, frequency;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        EXPECT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, answer)) << GetLastError();
        EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 20000));
        QueryPerformanceCounter(&now);
        return CounterMs(start.QuadPart, now.QuadPart, frequency.QuadPart);
    }
};

// Each request takes 4.8 s, close to the 5 s the service waits: the heartbeat comes every
// interval plus one request, and a stop still needs only the stop request's time.
TEST_F(ServiceFaults, SlowBmcKeepsTheHeartbeatAndAStopEndsWithinOneRequest)
{
    const DWORD delayMs = 4800;
    RestartDriverWithDelay(delayMs);
    StatusWatcher watcher(service_);
    Start();
    ASSERT_TRUE(WaitForLogged(5, 40000)) << "arm, the starting reset and three heartbeats";
    SERVICE_STATUS answer = {};
    double stopMs = StopMs(&answer);  // the fifth request was just logged: the service waits now
    EXPECT_EQ(Describe(kStopPending), Describe(Reported(answer)));
    EXPECT_LT(stopMs, delayMs + 1000.0) << "one request after the control";
    ExpectSeenInOrder(watcher.Stop(), {kRunning, kStopPending, kStopped});
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    ASSERT_EQ(6u, log.size());
    EXPECT_EQ(kStop, Commands(log).back());
    for (size_t i = 3; i < 5; ++i) {
        double latency = CounterMs(log[i - 1].counter, log[i - 1].completedCounter, frequency);
        double period = CounterMs(log[i - 1].counter, log[i].counter, frequency);
        EXPECT_NEAR(delayMs, latency, 300) << "request " << i - 1;
        EXPECT_NEAR(1000.0, period - latency, 300) << "heartbeat " << i << ": interval after the answer";
    }
    EXPECT_EQ(std::vector<std::string>{}, EventLogStringsSince(logOffset_));
}

// The simulated BMC lives in its driver and starts afresh with it, while a real BMC keeps its
// armed timer when only the driver goes away; the test arms the fresh one as the real one would be.
TEST_F(ServiceFaults, DriverStoppedWhileRunningFailsHeartbeatsQuietlyAndTheyResumeWhenItReturns)
{
    Start();
    ASSERT_TRUE(WaitForLogged(3, 10000));
    ASSERT_TRUE(ControlSimulatedDriver(false));
    Sleep(3500);  // three heartbeats find no device
    EXPECT_TRUE(Running());
    ASSERT_TRUE(ControlSimulatedDriver(true));
    bmc_.reset(new SimulatedBmc());
    ASSERT_TRUE(CreateSessionTable());
    EXPECT_TRUE(ArmWatchdog({3, 0, 300, 0, 0}));
    DestroySessionTable();
    ASSERT_TRUE(WaitForLogged(3, 5000)) << "the test's arm and two heartbeats";
    EXPECT_TRUE(Running());
    ImbSimWatchdogState watchdog = bmc_->ReadWatchdog();
    EXPECT_EQ(1, watchdog.running) << "a heartbeat started the countdown again";
    EXPECT_GE(watchdog.resetCount, 1u);
    EXPECT_GT(watchdog.presentCountdown, watchdog.initialCountdown - 20) << "restarted within the last 2 s";
    StopAndWait();
    std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog());
    EXPECT_EQ(kStop, commands.back());
    EXPECT_EQ(1, std::count(commands.begin(), commands.end(), kArmInstalled)) << "only the test's own arm";
    for (size_t i = 0; i + 1 < commands.size(); ++i) {
        if (commands[i] != kArmInstalled) EXPECT_EQ(kReset, commands[i]) << "request " << i;
    }
    SERVICE_STATUS_PROCESS last = {};
    ASSERT_TRUE(QueryServiceState(service_, &last));
    EXPECT_EQ(Describe(kStopped), Describe(Reported(last)));
    EXPECT_EQ(std::vector<std::string>{}, EventLogStringsSince(logOffset_)) << "heartbeats fail quietly";
}

// A failing arm or starting reset ends the start with exit code 20, one entry and the stop request.
TEST_F(ServiceFaults, FailingAnswerAtTheArmOrTheStartingResetIsAStartFailure)
{
    const std::vector<std::vector<uint8_t>> sent[2] = {{kArmInstalled, kStop}, {kArmInstalled, kReset, kStop}};
    for (const Answer &answer : kFailingAnswers) {
        for (uint32_t position = 0; position < 2; ++position) {
            SCOPED_TRACE(std::string(answer.name) + (position == 0 ? " at the arm" : " at the starting reset"));
            ASSERT_TRUE(bmc_->Reset());
            InjectAt(position, 1, answer);
            long long offset = DebugLogSize();
            Start();
            EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 15000));
            SERVICE_STATUS_PROCESS last = {};
            ASSERT_TRUE(QueryServiceState(service_, &last));
            EXPECT_EQ(Describe(kFailedStopped), Describe(Reported(last)));
            EXPECT_EQ(sent[position], Commands(bmc_->ReadLog()));
            std::vector<std::string> strings = EventLogStringsSince(offset);
            ASSERT_EQ(2u, strings.size()) << "one entry with two strings";
            EXPECT_EQ("The service cann't be started since failed to launch device or driver!", strings[1]);
            Sleep(100);  // let the process end before the next start
        }
    }
}

// Failing heartbeats are ignored: the loop goes on, and the next good one restarts the countdown.
TEST_F(ServiceFaults, FailingAnswersInTheLoopLeaveTheServiceRunning)
{
    for (const Answer &answer : kFailingAnswers) {
        SCOPED_TRACE(answer.name);
        ASSERT_TRUE(bmc_->Reset());
        InjectAt(2, 2, answer);
        long long offset = DebugLogSize();
        StatusWatcher watcher(service_);
        Start();
        ASSERT_TRUE(WaitForLogged(5, 10000)) << "arm, starting reset, two failing heartbeats, a good one";
        EXPECT_TRUE(Running());
        std::vector<ImbSimLogEntry> log = bmc_->ReadLog();
        ImbSimWatchdogState watchdog = bmc_->ReadWatchdog();
        for (size_t i = 2; i < 4; ++i) {
            bool failed = answer.fields == IMBSIM_SET_STATUS ? log[i].status == answer.value
                                                             : log[i].response[0] == answer.value;
            EXPECT_TRUE(failed) << "request " << i << " got the injected answer";
        }
        EXPECT_EQ(0u, log[4].status);
        EXPECT_EQ(0, log[4].response[0]);
        EXPECT_EQ(1, watchdog.running) << "the good heartbeat keeps the countdown going";
        StopAndWait();
        ExpectSeenInOrder(watcher.Stop(), {kRunning, kStopped});  // stop pending is too short to be seen
        log = bmc_->ReadLog();
        std::vector<std::vector<uint8_t>> commands = Commands(log);
        for (size_t i = 1; i + 1 < commands.size(); ++i) EXPECT_EQ(kReset, commands[i]) << "request " << i;
        EXPECT_EQ(kStop, commands.back());
        EXPECT_EQ(std::vector<std::string>{}, EventLogStringsSince(offset));
        Sleep(100);
    }
}
