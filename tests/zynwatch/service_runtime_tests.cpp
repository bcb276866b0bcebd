// The service run through Wine's Service Control Manager against the simulated BMC: states as
// the SCM reports them, heartbeats by the driver's clock, stop, interrogate and start failures.
#include "service_runtime_fixture.h"

#include "session_table.h"
#include "test_watchdog_settings.h"
#include "watchdog.h"

TEST_F(ServiceRuntime, RunsArmsHeartbeatsAndStopsTheWatchdogAsItStops)
{
    ASSERT_TRUE(bmc_->DelayAnswers(300, IMBSIM_EVERY_REQUEST));  // keeps each state long enough to be seen
    StatusWatcher watcher(service_);
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    SERVICE_STATUS control = StopAndWait();
    EXPECT_EQ(Describe(kStopPending), Describe(Reported(control))) << "the control's own answer";
    ExpectSeenInOrder(watcher.Stop(), {kRunning, kStopPending, kStopped});
    std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog());
    ASSERT_GE(commands.size(), kStartRequests + 2);
    EXPECT_EQ(kStartInstalled, std::vector<std::vector<uint8_t>>(commands.begin(), commands.begin() + kStartRequests));
    for (size_t i = kStartRequests; i + 1 < commands.size(); ++i) EXPECT_EQ(kReset, commands[i]) << "request " << i;
    EXPECT_EQ(kStop, commands.back());
    EXPECT_EQ(0, bmc_->ReadWatchdog().running);
    EXPECT_EQ(std::vector<std::string>{}, EventLogStringsSince(logOffset_));
}

TEST_F(ServiceRuntime, HeartbeatsFollowTheIntervalAndAChangeTakesEffectAtTheNextWait)
{
    const uint32_t last = kStartRequests - 1;  // the starting reset
    Start();
    ASSERT_TRUE(WaitForLogged(last + 4, 10000));
    SetHeartbeatInterval(2);
    ASSERT_TRUE(WaitForLogged(last + 6, 10000));
    SetHeartbeatInterval(0);
    ASSERT_TRUE(WaitForLogged(last + 9, 10000));
    StopAndWait();
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    ASSERT_GE(log.size(), last + 10);
    std::vector<std::vector<uint8_t>> commands = Commands(log);
    EXPECT_EQ(kStartInstalled, std::vector<std::vector<uint8_t>>(commands.begin(), commands.begin() + kStartRequests));
    std::vector<double> gaps;
    for (size_t i = last + 1; i <= last + 8; ++i) {
        EXPECT_EQ(kReset, commands[i]);
        gaps.push_back(CounterMs(log[i - 1].counter, log[i].counter, frequency));
    }
    EXPECT_LT(gaps[0], 500) << "the loop's first reset follows the starting one at once";
    for (size_t i = 1; i < 4; ++i) EXPECT_NEAR(1000, gaps[i], 300) << "gap " << i;
    EXPECT_NEAR(2000, gaps[4], 300) << "the interval read before this pass was 2";
    EXPECT_NEAR(1000, gaps[7], 300) << "an interval of 0 waits one second, not a flood of requests";
    EXPECT_EQ(std::vector<std::string>{}, Described(EventLogEntriesSince(logOffset_))) << "0 is no warning";
}

// TimeoutValue 10 s: a heartbeat 45 s or 30 s after the last would come after the watchdog acted,
// so the service waits (10 - 5) / 2 = 2 s instead and says so once per configured value.
TEST_F(ServiceRuntime, AnIntervalTheTimeoutCannotOutlastIsReplacedWithOneWarningPerValue)
{
    const uint32_t last = kStartRequests - 1;
    SetServiceDword("TimeoutValue", 10);
    SetHeartbeatInterval(45);
    Start();
    ASSERT_TRUE(WaitForLogged(last + 4, 15000));
    SetHeartbeatInterval(30);
    ASSERT_TRUE(WaitForLogged(last + 6, 15000));
    SetHeartbeatInterval(3);
    ASSERT_TRUE(WaitForLogged(last + 8, 15000));
    StopAndWait();
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    ASSERT_GE(log.size(), last + 9);
    for (size_t i = last + 2; i <= last + 5; ++i) {
        EXPECT_NEAR(2000, CounterMs(log[i - 1].counter, log[i].counter, frequency), 300) << "request " << i;
    }
    EXPECT_NEAR(3000, CounterMs(log[last + 6].counter, log[last + 7].counter, frequency), 300)
        << "3 s and one request's 5 s end before the 10 s: used as configured";
    EXPECT_EQ((std::vector<std::string>{
                  Entry(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_INTERVAL_REPLACED, {"45", "2", "10"}),
                  Entry(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_INTERVAL_REPLACED, {"30", "2", "10"})}),
              Described(EventLogEntriesSince(logOffset_)));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_READ, &key));
    DWORD stored = 0, size = sizeof(stored);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "HeartbeatInterval", nullptr, nullptr,
                                              reinterpret_cast<BYTE *>(&stored), &size));
    RegCloseKey(key);
    EXPECT_EQ(3u, stored) << "the registry keeps what the administrator wrote";
}

TEST_F(ServiceRuntime, AStopDuringAWaitEndsItAtOnce)
{
    SetHeartbeatInterval(60);
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    Sleep(200);
    LARGE_INTEGER controlled;
    QueryPerformanceCounter(&controlled);
    SERVICE_STATUS control = StopAndWait();
    EXPECT_EQ(Describe(kStopPending), Describe(Reported(control)));
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    ASSERT_EQ(kStartRequests + 2, log.size()) << "the start, one heartbeat, stop";
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

// Without "ShutdownTimeout" only the stop control is accepted: at shutdown the countdown goes on
// from the last heartbeat.
TEST_F(ServiceRuntime, ShutdownIsNotAnAcceptedControl)
{
    SetServiceDword("ShutdownTimeout", 9);  // out of range: off
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests, 10000));
    SERVICE_STATUS_PROCESS running = {};
    ASSERT_TRUE(QueryServiceState(service_, &running));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP), running.dwControlsAccepted);
    SERVICE_STATUS status = {};
    SetLastError(kLastErrorSentinel);
    EXPECT_FALSE(ControlService(service_, SERVICE_CONTROL_PAUSE, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL), GetLastError());
    StopAndWait();
}

// The server restarted because the watchdog expired (here a 1 s countdown the test lets run out,
// as it does when the OS hangs): the next start says so once, and its arm clears the BMC's flag.
TEST_F(ServiceRuntime, AWatchdogExpiryFoundAtStartIsReportedOnceAndClearedByTheArm)
{
    ASSERT_TRUE(CreateSessionTable());
    EXPECT_TRUE(ArmWatchdog(Settings(1, 0, 1, 0)));
    EXPECT_TRUE(ResetWatchdog());
    DestroySessionTable();
    for (int i = 0; i < 100 && bmc_->ReadWatchdog().eventCount == 0; ++i) Sleep(50);
    ASSERT_EQ(0x10, bmc_->ReadWatchdog().expirationFlags) << "expired by the driver's clock";
    for (int run = 0; run < 2; ++run) {
        long long offset = DebugLogSize();
        Start();
        ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
        StopAndWait();
        std::vector<std::string> expected;
        if (run == 0) expected = {Entry(EVENTLOG_WARNING_TYPE, MSG_LAST_RESTART_BY_WATCHDOG, {"SMS/OS (4)", "hard reset"})};
        EXPECT_EQ(expected, Described(EventLogEntriesSince(offset))) << "start " << run + 1;
        EXPECT_EQ(0x00, bmc_->ReadWatchdog().expirationFlags);
        ASSERT_TRUE(bmc_->Reset());
        Sleep(100);  // let the process end before the next start
    }
}

// Firmware that accepts a pre-timeout interrupt it cannot raise and stores none: the service
// checks what the BMC stored after the arm and names the field that differs.
TEST_F(ServiceRuntime, ASettingTheBmcStoredOtherwiseIsNamedWithBothValues)
{
    ImbSimBmcConfig quirky = {};
    quirky.preTimeoutSupport = 0x0E;
    quirky.quirks = IMBSIM_QUIRK_DROPS_PRETIMEOUT;
    ASSERT_TRUE(bmc_->SetBmc(quirky));
    SetServiceDword("PreTimeoutAction", 2);
    SetServiceDword("PreTimeoutInterval", 10);
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    EXPECT_TRUE(Running());
    StopAndWait();
    EXPECT_EQ((std::vector<std::string>{
                  Entry(EVENTLOG_WARNING_TYPE, MSG_WATCHDOG_SETTING_DIFFERS, {"timer actions", "0x23", "0x03"})}),
              Described(EventLogEntriesSince(logOffset_)));
}

// With "ShutdownTimeout" 600 the service accepts the preshutdown control and answers it by
// giving the running timer a 600 s countdown with the configured action instead of stopping it:
// a 10-minute update at shutdown is not cut off, a hang is still reset. The control is handed to
// the service's handler in its own process (see preshutdown_host.cpp), as Wine never sends it.
TEST_F(ServiceRuntime, PreshutdownGivesTheWatchdogTheShutdownTimeoutInsteadOfStoppingIt)
{
    std::string host = ZYN_TEST_PRESHUTDOWN_HOST_EXE;
    for (char &c : host) c = c == '/' ? '\\' : c;
    ASSERT_TRUE(ChangeServiceConfigA(service_, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, host.c_str(),
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    SetServiceDword("ShutdownTimeout", 600);
    SetHeartbeatInterval(60);  // no heartbeat between the start and the shutdown
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    SERVICE_STATUS_PROCESS running = {};
    ASSERT_TRUE(QueryServiceState(service_, &running));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN), running.dwControlsAccepted);
    StatusWatcher watcher(service_);
    uint32_t before = bmc_->LoggedCount();
    ASSERT_TRUE(bmc_->DelayAnswers(1500, 2));  // keeps the stop-pending state long enough to be seen
    HANDLE trigger = OpenEventA(EVENT_MODIFY_STATE, FALSE, "ZynPreshutdownTest");
    ASSERT_NE(nullptr, trigger);
    SetEvent(trigger);
    CloseHandle(trigger);
    EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 15000));
    ReportedStatus shutdownPending = {SERVICE_STOP_PENDING, 0, kStopPending.checkPoint, kShutdownWaitHint,
                                      SERVICE_ACCEPT_STOP};
    ExpectSeenInOrder(watcher.Stop(), {shutdownPending, kStopped});
    std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog(before));
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{{0x24, 0x44, 0x03, 0x00, 0x10, 0x70, 0x17}, kReset}), commands)
        << "the don't-stop Set with 600 s and the configured action, a reset, and no stop request";
    ImbSimWatchdogState watchdog = bmc_->ReadWatchdog();
    EXPECT_EQ(1, watchdog.running);
    EXPECT_EQ(6000, watchdog.initialCountdown);
    EXPECT_EQ((std::vector<std::string>{Entry(EVENTLOG_INFORMATION_TYPE, MSG_SHUTDOWN_PHASE, {"600", "power cycle"})}),
              Described(EventLogEntriesSince(logOffset_)));
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
        if (failing) ASSERT_TRUE(bmc_->AnswerWithCompletionCode(0xC1, 2));  // the first Get and the arm
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
    rejectArm.skipCount = 1;  // the Get before it
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
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{kGet, kArmInstalled, kStop}), commands) << "no reset after a failed arm";
    std::vector<std::string> strings = EventLogStringsSince(logOffset_);
    ASSERT_EQ(2u, strings.size()) << "one entry with two strings";
    EXPECT_EQ(0u, strings[0].rfind("ZynAsrService error: ", 0)) << strings[0];
    EXPECT_EQ("The service cann't be started since failed to launch device or driver!", strings[1]);
}

// Windows shows these entries in the Application log with the texts of zynwatch.exe's message
// table; Wine keeps no readable log and prints each insertion string on its eventlog channel.
// The stop requests fail as well: tried for about 10 s, then reported, the start's exit code kept.
TEST_F(ServiceRuntime, DriverAbsentStopsTheServiceWithExitCode20AndSaysTheTimerMayStillRun)
{
    ASSERT_TRUE(ControlSimulatedDriver(false));
    StatusWatcher watcher(service_);
    Start();
    EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 30000));
    ExpectSeenInOrder(watcher.Stop(), {kFailedStopped});
    SERVICE_STATUS_PROCESS last = {};
    ASSERT_TRUE(QueryServiceState(service_, &last));
    EXPECT_EQ(Describe(kFailedStopped), Describe(Reported(last)));
    std::vector<LoggedEvent> entries = EventLogEntriesSince(logOffset_);
    ASSERT_EQ(2u, entries.size()) << ::testing::PrintToString(Described(entries));
    EXPECT_EQ(Entry(EVENTLOG_ERROR_TYPE, MSG_SERVICE_ERROR,
                    {"ZynAsrService error: 2", "The service cann't be started since failed to launch device or driver!"}),
              Describe(entries[0]))
        << "the device's absence (ERROR_FILE_NOT_FOUND) is the last error when the entry is written";
    ASSERT_EQ(4u, entries[1].strings.size());
    EXPECT_EQ(Entry(EVENTLOG_ERROR_TYPE, MSG_WATCHDOG_STILL_ARMED,
                    {entries[1].strings[0], "error 55", "power cycle", "300"}),
              Describe(entries[1]));
    EXPECT_GE(atoi(entries[1].strings[0].c_str()), 3) << "tries";
}

// What the Event Viewer shows for each entry: its text from zynwatch.exe's message table with
// the entry's insertion strings in place, each string the service writes used by the text.
TEST(EventMessages, TheProgramCarriesATextForEveryEntryItWrites)
{
    std::string path = ZYN_TEST_ZYNWATCH_EXE;
    for (char &c : path) c = c == '/' ? '\\' : c;
    HMODULE program = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, program) << GetLastError();
    struct Entry {
        DWORD id;
        int strings;  // as many as the service passes
    } entries[] = {{MSG_SERVICE_ERROR, 2},           {MSG_WATCHDOG_SETTINGS_LOST, 2},   {MSG_WATCHDOG_STILL_ARMED, 4},
                   {MSG_HEARTBEAT_INTERVAL_REPLACED, 3}, {MSG_HEARTBEAT_FAILED, 1},     {MSG_HEARTBEATS_RESUMED, 1},
                   {MSG_LAST_RESTART_BY_WATCHDOG, 2},    {MSG_WATCHDOG_SETTING_DIFFERS, 3}, {MSG_SHUTDOWN_PHASE, 2},
                   {MSG_SHUTDOWN_PHASE_REFUSED, 2}};
    const char *names[4] = {"<1>", "<2>", "<3>", "<4>"};
    DWORD_PTR inserted[4];
    for (int i = 0; i < 4; ++i) inserted[i] = reinterpret_cast<DWORD_PTR>(names[i]);
    for (const Entry &entry : entries) {
        char text[2048] = {};
        DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, program, entry.id, 0,
                                      text, sizeof(text), reinterpret_cast<va_list *>(inserted));
        ASSERT_NE(0u, length) << "no text for " << std::hex << entry.id;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(i < entry.strings, strstr(text, names[i]) != nullptr)
                << std::hex << entry.id << " and string " << std::dec << i + 1 << ": " << text;
        }
    }
    char error[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, program, 0, 0, error, sizeof(error),
                   reinterpret_cast<va_list *>(inserted));
    EXPECT_STREQ("<1>\r\n<2>\r\n", error) << "entry 0 shows its two strings, one per line";
    FreeLibrary(program);
}
