// The service when the BMC and its driver misbehave: a BMC that answers near the 5-second
// timeout, a driver that goes away and comes back, and failing answers at every step.
#include "service_runtime_fixture.h"

#include <algorithm>

#include "session_table.h"
#include "watchdog/watchdog.h"

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
    // Requests number first on (0 the first Get), count of them, get the answer after delayMs.
    void InjectAt(uint32_t first, uint32_t count, const Answer &answer, uint32_t delayMs = 0)
    {
        ImbSimBehaviour behaviour = {};
        behaviour.skipCount = first;
        behaviour.requestCount = count;
        behaviour.fields = answer.fields | (delayMs != 0 ? IMBSIM_SET_DELAY : 0);
        behaviour.delayMs = delayMs;
        behaviour.completionCode = answer.value;
        behaviour.status = answer.value;
        ASSERT_TRUE(bmc_->SetBehaviour(behaviour));
    }

    // Waits until the service has written count event log entries since the test began.
    bool WaitForEventLogEntries(size_t count, DWORD limitMs)
    {
        DWORD start = GetTickCount();
        while (EventLogEntriesSince(logOffset_).size() < count) {
            if (GetTickCount() - start > limitMs) return false;
            Sleep(50);
        }
        return true;
    }

    // Resets the BMC cold and returns where the reset stands in the log: on a loaded machine a
    // heartbeat may still come between counting from `counted` on and the reset.
    uint32_t ColdResetAt(uint32_t counted)
    {
        EXPECT_TRUE(bmc_->ColdResetBmc());
        std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog(counted));
        return counted + static_cast<uint32_t>(std::find(commands.begin(), commands.end(), std::vector<uint8_t>{0x02}) -
                                               commands.begin());
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
// interval plus one request, and a stop needs only the stop request's time, plus the rest of a
// heartbeat when it comes while one is under way.
TEST_F(ServiceFaults, SlowBmcKeepsTheHeartbeatAndAStopEndsWithinOneRequest)
{
    const DWORD delayMs = 4800;
    RestartDriverWithDelay(delayMs);
    StatusWatcher watcher(service_);
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 3, 60000)) << "the start and three heartbeats";
    long long controlled = CounterNow();
    SERVICE_STATUS answer = {};
    StopMs(&answer);
    EXPECT_EQ(Describe(kStopPending), Describe(Reported(answer)));
    ExpectSeenInOrder(watcher.Stop(), {kRunning, kStopPending, kStopped});
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    ASSERT_GE(log.size(), kStartRequests + 4);
    std::vector<std::vector<uint8_t>> commands = Commands(log);
    for (size_t i = kStartRequests; i + 1 < log.size(); ++i) EXPECT_EQ(kReset, commands[i]) << "request " << i;
    EXPECT_EQ(kStop, commands.back());
    EXPECT_LE(log.size() - 1 - FirstArrivedAfter(log, controlled), 1u)
        << "at most the heartbeat whose wait ended as the control came";
    const ImbSimLogEntry &stop = log.back(), &before = log[log.size() - 2];
    double waited = CounterMs(std::max<long long>(controlled, before.completedCounter), stop.counter, frequency);
    EXPECT_LT(waited, 1000.0) << "the stop request follows the control, or the heartbeat under way, at once";
    for (size_t i = kStartRequests + 1; i < kStartRequests + 3; ++i) {
        double latency = CounterMs(log[i - 1].counter, log[i - 1].completedCounter, frequency);
        double period = CounterMs(log[i - 1].counter, log[i].counter, frequency);
        EXPECT_NEAR(delayMs, latency, 300) << "request " << i - 1;
        EXPECT_NEAR(1000.0, period - latency, 300) << "heartbeat " << i << ": interval after the answer";
    }
    EXPECT_EQ(std::vector<std::string>{}, EventLogStringsSince(logOffset_));
}

// The simulated BMC lives in its driver and starts afresh with it, as a real BMC does after a
// cold reset: the heartbeats fail while the device is gone, then the first one finds the fresh
// BMC uninitialised (0x80) and the service arms it again with the settings of its start.
TEST_F(ServiceFaults, DriverGoneFailsHeartbeatsWithOneWarningAndAFreshBmcIsRearmedWhenItReturns)
{
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    ASSERT_TRUE(ControlSimulatedDriver(false));
    ASSERT_TRUE(WaitForEventLogEntries(1, 15000)) << "the first heartbeat that found no device";
    Sleep(2500);  // more heartbeats find no device
    EXPECT_TRUE(Running());
    ASSERT_TRUE(ControlSimulatedDriver(true));
    bmc_.reset(new SimulatedBmc());
    ASSERT_TRUE(WaitForLogged(3, 15000)) << "the refused reset, the arm and its reset";
    EXPECT_TRUE(Running());
    ImbSimWatchdogState watchdog = bmc_->ReadWatchdog();
    EXPECT_EQ(1, watchdog.running) << "armed again and counting down";
    EXPECT_EQ(3000, watchdog.initialCountdown);
    StopAndWait();
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog();
    std::vector<std::vector<uint8_t>> commands = Commands(log);
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{kReset, kArmInstalled, kReset}),
              std::vector<std::vector<uint8_t>>(commands.begin(), commands.begin() + 3));
    EXPECT_EQ(0x80, log[0].response[0]);
    EXPECT_EQ(kStop, commands.back());
    std::vector<LoggedEvent> entries = EventLogEntriesSince(logOffset_);
    ASSERT_EQ(3u, entries.size()) << ::testing::PrintToString(Described(entries));
    EXPECT_EQ(Entry(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_FAILED, {"error 55"}), Describe(entries[0]))
        << "one warning for the whole outage";
    EXPECT_EQ(Entry(EVENTLOG_WARNING_TYPE, MSG_WATCHDOG_SETTINGS_LOST, {"300", "power cycle"}), Describe(entries[1]));
    ASSERT_EQ(1u, entries[2].strings.size());
    EXPECT_EQ(Entry(EVENTLOG_INFORMATION_TYPE, MSG_HEARTBEATS_RESUMED, {entries[2].strings[0]}), Describe(entries[2]));
    EXPECT_GE(atoi(entries[2].strings[0].c_str()), 2) << "the failed heartbeats in a row";
}

// The BMC forgets the watchdog's settings (IPMI Cold Reset): the next heartbeat is answered
// 0x80, and the service sends the start's Set and Reset at once, with one warning. When the
// re-arm itself fails, it is tried at each heartbeat without another warning until it succeeds.
TEST_F(ServiceFaults, ABmcColdResetIsRearmedAtOnceAndAFailedRearmIsTriedAtEachHeartbeat)
{
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    ASSERT_TRUE(WaitForLogged(kStartRequests + 2, 5000));  // just after a heartbeat
    uint32_t before = ColdResetAt(bmc_->LoggedCount());
    ASSERT_TRUE(WaitForCommand(kArmInstalled, before, 5000));
    ASSERT_TRUE(WaitForLogged(before + 4, 5000));
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(before);
    std::vector<std::vector<uint8_t>> commands = Commands(log);
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{{0x02}, kReset, kArmInstalled, kReset}),
              std::vector<std::vector<uint8_t>>(commands.begin(), commands.begin() + 4));
    EXPECT_EQ(0x80, log[1].response[0]) << "the model forgot its settings";
    EXPECT_EQ(0x00, log[3].response[0]);
    EXPECT_EQ(1, bmc_->ReadWatchdog().running);

    // Again, with the BMC busy for the first two Sets after it; right after a heartbeat, so that
    // the next one comes a second after the cold reset.
    ASSERT_TRUE(WaitForLogged(bmc_->LoggedCount() + 1, 5000));
    ImbSimBehaviour busy = {};
    busy.requestCount = 2;
    busy.fields = IMBSIM_SET_COMPLETION_CODE | IMBSIM_ONLY_COMMAND;
    busy.completionCode = 0xC0;
    busy.command = kArmInstalled[0];
    ASSERT_TRUE(bmc_->SetBehaviour(busy));
    before = ColdResetAt(bmc_->LoggedCount());
    ASSERT_TRUE(WaitForLogged(before + 6, 15000)) << "cold reset, 0x80, busy Set, busy Set, Set, Reset";
    log = bmc_->ReadLog(before);
    commands = Commands(log);
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{{0x02}, kReset, kArmInstalled, kArmInstalled, kArmInstalled, kReset}),
              std::vector<std::vector<uint8_t>>(commands.begin(), commands.begin() + 6))
        << "no plain reset while the re-arm is due";
    EXPECT_EQ(1, bmc_->ReadWatchdog().running);

    // A second failure episode within the hour is written neither as it begins nor as it ends.
    ASSERT_TRUE(bmc_->AnswerWithCompletionCode(0xC1, 1));
    uint32_t refused = bmc_->LoggedCount();
    ASSERT_TRUE(WaitForLogged(refused + 2, 5000)) << "the refused heartbeat and the next";
    EXPECT_EQ(0xC1, bmc_->ReadLog(refused)[0].response[0]);
    StopAndWait();
    EXPECT_EQ((std::vector<std::string>{
                  Entry(EVENTLOG_WARNING_TYPE, MSG_WATCHDOG_SETTINGS_LOST, {"300", "power cycle"}),
                  Entry(EVENTLOG_WARNING_TYPE, MSG_WATCHDOG_SETTINGS_LOST, {"300", "power cycle"}),
                  Entry(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_FAILED, {"completion code 0xC0"}),
                  Entry(EVENTLOG_INFORMATION_TYPE, MSG_HEARTBEATS_RESUMED, {"2"})}),
              Described(EventLogEntriesSince(logOffset_)));
}

// A stop request the BMC refuses is tried again with stop-pending reports the SCM waits for;
// one that succeeds on a retry ends as a clean stop, and when every try fails the service says
// that the timer may still run and ends with exit code 1117.
TEST_F(ServiceFaults, AFailedStopRequestIsRetriedAndAStopThatNeverSucceedsIsNoCleanStop)
{
    SetHeartbeatInterval(60);  // no heartbeat between the start and the stop
    for (uint32_t refused : {2u, IMBSIM_EVERY_REQUEST}) {
        bool recovers = refused != IMBSIM_EVERY_REQUEST;
        SCOPED_TRACE(recovers ? "refused twice" : "refused every time");
        ASSERT_TRUE(bmc_->Reset());
        long long offset = DebugLogSize();
        Start();
        ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
        ASSERT_TRUE(bmc_->AnswerWithCompletionCode(0xC0, refused));
        StatusWatcher watcher(service_);
        SERVICE_STATUS answer = {};
        double stopMs = StopMs(&answer);
        std::vector<ReportedStatus> seen = watcher.Stop();
        ReportedStatus firstRetry = {SERVICE_STOP_PENDING, 0, kStopPending.checkPoint + 1, kStopRetryWaitHintMs,
                                     SERVICE_ACCEPT_STOP};
        ReportedStatus secondRetry = firstRetry;
        secondRetry.checkPoint++;
        ReportedStatus stopped = kStopped;
        if (!recovers) stopped.exitCode = kStopFailureExitCode;
        // The answer is the latest report, which the service thread may have replaced by the first retry's.
        std::string acknowledged = Describe(Reported(answer));
        EXPECT_TRUE(acknowledged == Describe(kStopPending) || acknowledged == Describe(firstRetry)) << acknowledged;
        ExpectSeenInOrder(seen, {firstRetry, secondRetry, stopped});
        std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog(kStartRequests + 1));
        for (const std::vector<uint8_t> &c : commands) EXPECT_EQ(kStop, c);
        std::vector<LoggedEvent> entries = EventLogEntriesSince(offset);
        if (recovers) {
            EXPECT_EQ(3u, commands.size());
            EXPECT_EQ(0, bmc_->ReadWatchdog().running);
            EXPECT_EQ(std::vector<std::string>{}, Described(entries));
        } else {
            EXPECT_GE(commands.size(), 3u);
            EXPECT_LT(stopMs, 20000.0) << "the SCM is not kept waiting for long";
            EXPECT_EQ(1, bmc_->ReadWatchdog().running) << "the BMC never took the stop";
            ASSERT_EQ(1u, entries.size()) << ::testing::PrintToString(Described(entries));
            EXPECT_EQ(Entry(EVENTLOG_ERROR_TYPE, MSG_WATCHDOG_STILL_ARMED,
                            {std::to_string(commands.size()), "completion code 0xC0", "power cycle", "300"}),
                      Describe(entries[0]));
        }
        WaitForServiceProcessEnd();
    }
}

// A driver that never completes a request, nor lets it be cancelled: each request ends with 258
// after the 5 s time-out and one second more. The first unanswered heartbeat is reported once,
// as its request ends; a stop then still reaches STOPPED, as a stop whose every request failed.
TEST_F(ServiceFaults, RequestsTheDriverNeverCompletesHangNeitherTheHeartbeatsNorTheStop)
{
    const double requestEndsMs = 5000 + 500 + 500, loadedMachineMs = 4000;
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    ASSERT_TRUE(bmc_->HoldRequests(IMBSIM_EVERY_REQUEST, false));
    ASSERT_TRUE(WaitForEventLogEntries(1, 30000)) << "the unanswered heartbeat's entry";
    long long reported = CounterNow();
    EXPECT_TRUE(Running());
    SERVICE_STATUS answer = {};
    EXPECT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &answer)) << GetLastError();
    EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 60000)) << "a stop whose requests all hang";
    long long stopped = CounterNow();
    SERVICE_STATUS_PROCESS last = {};
    ASSERT_TRUE(QueryServiceState(service_, &last));
    EXPECT_EQ(kStopFailureExitCode, last.dwWin32ExitCode);

    uint32_t held = bmc_->ReadCounters().heldRequests, released = 0;
    ASSERT_TRUE(bmc_->ReleaseHeld(&released));
    EXPECT_EQ(held, released);
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    std::vector<ImbSimLogEntry> heldLog;  // answered only by the release, oldest first
    for (const ImbSimLogEntry &e : log) {
        if (e.completedCounter > stopped) heldLog.push_back(e);
    }
    ASSERT_EQ(released, heldLog.size());
    std::vector<std::vector<uint8_t>> commands = Commands(heldLog);
    ASSERT_GE(commands.size(), 4u) << "a heartbeat and three tries of the stop";
    EXPECT_EQ(kReset, commands[0]);
    double untilReported = CounterMs(heldLog[0].counter, reported, frequency);
    EXPECT_GE(untilReported, requestEndsMs - 5) << "the cancellation the driver ignored was waited for";
    EXPECT_LT(untilReported, requestEndsMs + loadedMachineMs) << "reported as the heartbeat's request ended";
    size_t stops = static_cast<size_t>(std::count(commands.begin(), commands.end(), kStop));
    EXPECT_GE(stops, 3u);
    EXPECT_EQ(kStop, commands.back());
    EXPECT_EQ((std::vector<std::string>{
                  Entry(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_FAILED, {"error 258 (no answer in time)"}),
                  Entry(EVENTLOG_ERROR_TYPE, MSG_WATCHDOG_STILL_ARMED,
                        {std::to_string(stops), "error 258 (no answer in time)", "power cycle", "300"})}),
              Described(EventLogEntriesSince(logOffset_)));
    WaitForServiceProcessEnd();
}

// A failing arm or starting reset ends the start with exit code 20, one entry and the stop request.
TEST_F(ServiceFaults, FailingAnswerAtTheArmOrTheStartingResetIsAStartFailure)
{
    const std::vector<std::vector<uint8_t>> sent[2] = {{kGet, kArmInstalled, kStop},
                                                       {kGet, kArmInstalled, kGet, kReset, kStop}};
    const uint32_t positions[2] = {1, 3};
    for (const Answer &answer : kFailingAnswers) {
        for (uint32_t which = 0; which < 2; ++which) {
            SCOPED_TRACE(std::string(answer.name) + (which == 0 ? " at the arm" : " at the starting reset"));
            ASSERT_TRUE(bmc_->Reset());
            // Wine's StartService fails with 1053 and ends the service when the start has failed
            // before the SCM looked at its state; a late answer lets it see the service running.
            InjectAt(positions[which], 1, answer, 1000);
            long long offset = DebugLogSize();
            Start();
            EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 15000));
            SERVICE_STATUS_PROCESS last = {};
            ASSERT_TRUE(QueryServiceState(service_, &last));
            EXPECT_EQ(Describe(kFailedStopped), Describe(Reported(last)));
            EXPECT_EQ(sent[which], Commands(bmc_->ReadLog()));
            std::vector<std::string> strings = EventLogStringsSince(offset);
            ASSERT_EQ(2u, strings.size()) << "one entry with two strings";
            EXPECT_EQ("The service cann't be started since failed to launch device or driver!", strings[1]);
            WaitForServiceProcessEnd();
        }
    }
}

// Failing heartbeats leave the service running: one warning with the cause at the first, one
// entry with their count at the first that succeeds again, nothing in between.
TEST_F(ServiceFaults, FailingHeartbeatsAreReportedOnceAndTheirEndWithTheirCount)
{
    for (const Answer &answer : kFailingAnswers) {
        if (answer.value == 0x80) continue;  // the BMC lost its settings: re-armed, tested above
        SCOPED_TRACE(answer.name);
        ASSERT_TRUE(bmc_->Reset());
        InjectAt(kStartRequests, 3, answer);
        long long offset = DebugLogSize();
        StatusWatcher watcher(service_);
        Start();
        ASSERT_TRUE(WaitForLogged(kStartRequests + 4, 10000)) << "the start, three failing heartbeats, a good one";
        EXPECT_TRUE(Running());
        std::vector<ImbSimLogEntry> log = bmc_->ReadLog();
        ImbSimWatchdogState watchdog = bmc_->ReadWatchdog();
        for (size_t i = kStartRequests; i < kStartRequests + 3; ++i) {
            bool failed = answer.fields == IMBSIM_SET_STATUS ? log[i].status == answer.value
                                                             : log[i].response[0] == answer.value;
            EXPECT_TRUE(failed) << "request " << i << " got the injected answer";
        }
        EXPECT_EQ(0u, log[kStartRequests + 3].status);
        EXPECT_EQ(0, log[kStartRequests + 3].response[0]);
        EXPECT_EQ(1, watchdog.running) << "the good heartbeat keeps the countdown going";
        StopAndWait();
        ExpectSeenInOrder(watcher.Stop(), {kRunning, kStopped});  // stop pending is too short to be seen
        std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog());
        for (size_t i = kStartRequests; i + 1 < commands.size(); ++i) EXPECT_EQ(kReset, commands[i]) << "request " << i;
        EXPECT_EQ(kStop, commands.back());
        std::string cause = answer.fields == IMBSIM_SET_STATUS ? "error 258 (no answer in time)" : "completion code " + std::string(answer.name);
        EXPECT_EQ((std::vector<std::string>{Entry(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_FAILED, {cause}),
                                            Entry(EVENTLOG_INFORMATION_TYPE, MSG_HEARTBEATS_RESUMED, {"3"})}),
                  Described(EventLogEntriesSince(offset)));
        WaitForServiceProcessEnd();
    }
}

// TimeoutValue 20 and HeartbeatInterval 6: one busy answer must not cost the interval. Two busy
// heartbeats are each tried again 2 s later by the driver's clock, and the interval applies again
// after the first that succeeds.
TEST_F(ServiceFaults, AFailedHeartbeatIsTriedAgainWithinTwoSecondsUntilOneSucceeds)
{
    SetServiceDword("TimeoutValue", 20);
    SetHeartbeatInterval(6);
    InjectAt(kStartRequests, 2, {"0xC0", IMBSIM_SET_COMPLETION_CODE, 0xC0});
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 4, 20000)) << "two busy heartbeats, the good one and the next";
    StopAndWait();
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    ASSERT_GE(log.size(), kStartRequests + 4);
    EXPECT_EQ(0xC0, log[kStartRequests].response[0]);
    EXPECT_EQ(0xC0, log[kStartRequests + 1].response[0]);
    auto gap = [&](size_t i) { return CounterMs(log[i].completedCounter, log[i + 1].counter, frequency); };
    EXPECT_NEAR(2000, gap(kStartRequests), 300) << "the retry after the first busy answer";
    EXPECT_NEAR(2000, gap(kStartRequests + 1), 300) << "and after the second";
    EXPECT_NEAR(6000, gap(kStartRequests + 2), 300) << "the interval after the heartbeat that succeeded";
    EXPECT_EQ((std::vector<std::string>{Entry(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_FAILED, {"completion code 0xC0"}),
                                        Entry(EVENTLOG_INFORMATION_TYPE, MSG_HEARTBEATS_RESUMED, {"2"})}),
              Described(EventLogEntriesSince(logOffset_)));
}

// A BMC that does not answer Get Watchdog Timer, before the arm or after it, changes nothing.
TEST_F(ServiceFaults, GetWatchdogTimerUnansweredChangesNothing)
{
    for (uint32_t position : {0u, 2u}) {
        SCOPED_TRACE(position == 0 ? "before the arm" : "after the arm");
        ASSERT_TRUE(bmc_->Reset());
        InjectAt(position, 1, kFailingAnswers[1]);
        long long offset = DebugLogSize();
        std::vector<std::vector<uint8_t>> commands = RunThroughOneHeartbeat();
        ASSERT_GE(commands.size(), kStartRequests);
        EXPECT_EQ(kStartInstalled, std::vector<std::vector<uint8_t>>(commands.begin(), commands.begin() + kStartRequests));
        EXPECT_EQ(std::vector<std::string>{}, Described(EventLogEntriesSince(offset)));
        WaitForServiceProcessEnd();
    }
}
