// The service run through Wine's Service Control Manager against the simulated BMC: states as
// the SCM reports them, heartbeats by the driver's clock, stop, interrogate and start failures.
#include "service_runtime_fixture.h"

#include <algorithm>
#include <cmath>

#include "guards.h"
#include "import_hook.h"
#include "session_table.h"
#include "test_watchdog_settings.h"
#include "watchdog.h"

// A gap between two requests by the driver's clock is the expected one, give or take 300 ms.
static bool Close(double ms, double expected)
{
    return std::fabs(ms - expected) < 300;
}

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

// The interval is read just before each heartbeat and waited after it: the heartbeat that first
// arrives after a change may still wait the old interval, every later one waits the new.
TEST_F(ServiceRuntime, HeartbeatsFollowTheIntervalAndAChangeTakesEffectAtTheNextWait)
{
    const uint32_t last = kStartRequests - 1;  // the starting reset
    Start();
    ASSERT_TRUE(WaitForLogged(last + 4, 10000));
    long long twoWritten = 0;
    ASSERT_TRUE(ChangeIntervalAndWait(2, 3, &twoWritten));
    long long zeroWritten = 0;
    ASSERT_TRUE(ChangeIntervalAndWait(0, 3, &zeroWritten));
    StopAndWait();
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    size_t two = FirstArrivedAfter(log, twoWritten), zero = FirstArrivedAfter(log, zeroWritten);
    ASSERT_LE(zero + 4, log.size()) << "three heartbeats after each change, then the stop";
    std::vector<std::vector<uint8_t>> commands = Commands(log);
    EXPECT_EQ(kStartInstalled, std::vector<std::vector<uint8_t>>(commands.begin(), commands.begin() + kStartRequests));
    for (size_t i = last + 1; i + 1 < log.size(); ++i) EXPECT_EQ(kReset, commands[i]) << "request " << i;
    EXPECT_EQ(kStop, commands.back());
    auto gap = [&](size_t i) { return CounterMs(log[i].counter, log[i + 1].counter, frequency); };
    EXPECT_LT(gap(last), 500) << "the loop's first reset follows the starting one at once";
    for (size_t i = last + 1; i < two; ++i) EXPECT_NEAR(1000, gap(i), 300) << "gap " << i;
    EXPECT_TRUE(Close(gap(two), 1000) || Close(gap(two), 2000)) << gap(two) << " ms: read before or after it";
    for (size_t i = two + 1; i < zero; ++i) EXPECT_NEAR(2000, gap(i), 300) << "gap " << i;
    EXPECT_TRUE(Close(gap(zero), 2000) || Close(gap(zero), 1000)) << gap(zero) << " ms: read before or after it";
    for (size_t i = zero + 1; i + 2 < log.size(); ++i) {
        EXPECT_NEAR(1000, gap(i), 300) << "gap " << i << ": an interval of 0 waits one second, not a flood of requests";
    }
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
    long long thirtyWritten = 0;
    ASSERT_TRUE(ChangeIntervalAndWait(30, 2, &thirtyWritten)) << "the second was read after the change";
    long long threeWritten = 0;
    ASSERT_TRUE(ChangeIntervalAndWait(3, 3, &threeWritten));
    StopAndWait();
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    size_t three = FirstArrivedAfter(log, threeWritten);
    ASSERT_LE(three + 4, log.size());
    auto gap = [&](size_t i) { return CounterMs(log[i].counter, log[i + 1].counter, frequency); };
    for (size_t i = last + 1; i < three; ++i) EXPECT_NEAR(2000, gap(i), 300) << "gap " << i;
    EXPECT_TRUE(Close(gap(three), 2000) || Close(gap(three), 3000)) << gap(three) << " ms: read before or after it";
    EXPECT_NEAR(3000, gap(three + 1), 300) << "3 s and one request's 5 s end before the 10 s: used as configured";
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

// Without "ShutdownTimeout" only the stop control is accepted: the system sends the shutdown
// control to services that accept it alone, so at shutdown the countdown goes on from the last
// heartbeat. A caller cannot send it: Windows and Wine both refuse SERVICE_CONTROL_SHUTDOWN from
// ControlService with ERROR_INVALID_PARAMETER, whatever the service accepts.
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
    EXPECT_FALSE(ControlService(service_, SERVICE_CONTROL_SHUTDOWN, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_TRUE(Running());
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
        WaitForServiceProcessEnd();
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

// Each record SetServiceStatus receives here, checked as it arrives and again after the caller's
// thread has given way to the other one.
struct SentRecords {
    CRITICAL_SECTION lock;
    std::vector<ReportedStatus> sent;
    std::vector<std::string> changedWhileSent;
};
static SentRecords g_sentRecords;
const int kReportsPerThread = 20000;

static BOOL WINAPI RecordSentStatus(SERVICE_STATUS_HANDLE, SERVICE_STATUS *status)
{
    ReportedStatus arrived = Reported(*status);
    SwitchToThread();
    ReportedStatus left = Reported(*status);
    CriticalSectionLock lock(&g_sentRecords.lock);
    g_sentRecords.sent.push_back(arrived);
    if (!(arrived == left)) g_sentRecords.changedWhileSent.push_back(Describe(arrived) + " became " + Describe(left));
    return TRUE;
}

// As the service thread does: running, then a stop retry's report, over and over.
static DWORD WINAPI ReportLikeTheServiceThread(void *)
{
    for (int i = 0; i < kReportsPerThread; ++i) {
        if (i % 2 == 0) ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
        if (i % 2 == 1) ReportServiceStatus(SERVICE_STOP_PENDING, ERROR_BAD_UNIT, kStopRetryWaitHintMs);
    }
    return 0;
}

static DWORD WINAPI InterrogateLikeTheDispatcher(void *)
{
    for (int i = 0; i < kReportsPerThread; ++i) ServiceControlHandler(SERVICE_CONTROL_INTERROGATE);
    return 0;
}

// The first ten records neither thread meant: running as reported, or stop-pending with the exit
// code, a check point above the last one sent and the wait hint of either thread.
static std::vector<std::string> RecordsNoThreadMeant(const std::vector<ReportedStatus> &sent)
{
    const ReportedStatus running = {SERVICE_RUNNING, 0, 0, 0, SERVICE_ACCEPT_STOP};
    DWORD lastCheckPoint = 0;
    std::vector<std::string> wrong;
    for (const ReportedStatus &s : sent) {
        bool pending = s.state == SERVICE_STOP_PENDING && s.exitCode == ERROR_BAD_UNIT &&
                       s.controls == SERVICE_ACCEPT_STOP && s.checkPoint > lastCheckPoint &&
                       (s.waitHint == 0 || s.waitHint == kStopRetryWaitHintMs);
        if (s.state == SERVICE_STOP_PENDING) lastCheckPoint = s.checkPoint;
        if (!(s == running) && !pending && wrong.size() < 10) wrong.push_back(Describe(s));
    }
    return wrong;
}

// The service thread's reports and the control handler's answers to interrogate, at the same time
// on two threads of this process with SetServiceStatus watched. Through Wine's SCM the two barely
// overlap: it refuses interrogate while a state is pending.
TEST_F(ServiceRuntime, ReportsOfTheTwoThreadsNeverInterleave)
{
    static bool prepared = (InitializeServiceState(), true);  // once per process
    (void)prepared;
    InitializeCriticalSection(&g_sentRecords.lock);
    g_sentRecords.sent.clear();
    g_sentRecords.changedWhileSent.clear();
    ImportHook hook("advapi32.dll", "SetServiceStatus", reinterpret_cast<void *>(RecordSentStatus));
    ASSERT_TRUE(hook.Installed());
    ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);  // a state for the first interrogate
    HANDLE threads[2] = {CreateThread(nullptr, 0, ReportLikeTheServiceThread, nullptr, 0, nullptr),
                         CreateThread(nullptr, 0, InterrogateLikeTheDispatcher, nullptr, 0, nullptr)};
    bool joined = JOIN_THREADS(threads, 2, 60000);
    for (HANDLE thread : threads) CloseHandle(thread);
    ASSERT_TRUE(joined) << g_sentRecords.sent.size() << " records sent";
    EXPECT_EQ(2u * kReportsPerThread + 1, g_sentRecords.sent.size());
    EXPECT_EQ(std::vector<std::string>{}, RecordsNoThreadMeant(g_sentRecords.sent));
    std::vector<std::string> &changed = g_sentRecords.changedWhileSent;
    EXPECT_EQ(0u, changed.size()) << "changed while sent: " << ::testing::PrintToString(std::vector<std::string>(
                                         changed.begin(), changed.begin() + std::min<size_t>(10, changed.size())));
    DeleteCriticalSection(&g_sentRecords.lock);
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
