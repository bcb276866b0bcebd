// The service run through Wine's Service Control Manager against the simulated BMC: states as
// the SCM reports them, heartbeats by the driver's clock, stop, interrogate and start failures.
#include "service_runtime_fixture.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cmath>

#include "guards.h"
#include "configuration/setting_catalogue.h"
#include "health/health_checks.h"
#include "import_hook.h"
#include "service/settings_settle.h"
#include "session_table.h"
#include "status/status_command.h"
#include "status/status_report.h"
#include "test_watchdog_settings.h"
#include "watchdog/watchdog.h"

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
    ExpectSeenInOrder(watcher.Stop(), {kArming, kRunning, kStopPending, kStopped});
    std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog());
    ASSERT_GE(commands.size(), kStartRequests + 2);
    EXPECT_EQ(kStartInstalled, std::vector<std::vector<uint8_t>>(commands.begin(), commands.begin() + kStartRequests));
    for (size_t i = kStartRequests; i + 1 < commands.size(); ++i) EXPECT_EQ(kReset, commands[i]) << "request " << i;
    EXPECT_EQ(kStop, commands.back());
    EXPECT_EQ(0, bmc_->ReadWatchdog().running);
    EXPECT_EQ(std::vector<std::string>{}, EventLogStringsSince(logOffset_));
}

// A gap that holds a change of the settings, which may end it early: the regular heartbeat due before
// the change has settled, and the heartbeat that follows the applied change at once.
static bool AroundChange(const std::vector<ImbSimLogEntry> &log, size_t i, long long written, long long frequency)
{
    double after = CounterMs(written, log[i + 1].counter, frequency);
    return after >= 0 && after < kSettleQuietMs + 300;
}

// The interval is read before each heartbeat, and a change of it is applied at once: once it has
// settled, the next heartbeat follows, then the pause is the new interval. Each change applied has its
// information entry; an interval of 0 is no warning.
TEST_F(ServiceRuntime, HeartbeatsFollowTheIntervalAndAChangeTakesEffectAtOnceWithAnEntry)
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
    EXPECT_LT(CounterMs(twoWritten, log[two].counter, frequency), kSettleQuietMs + 300) << "not after the old interval";
    for (size_t i = last + 1; i + 2 < log.size(); ++i) {
        if (AroundChange(log, i, twoWritten, frequency) || AroundChange(log, i, zeroWritten, frequency)) continue;
        double expected = i < two ? 1000 : i < zero ? 2000 : 1000;
        EXPECT_NEAR(expected, gap(i), 300) << "gap " << i << ": an interval of 0 waits one second, not a flood of requests";
    }
    EXPECT_EQ((std::vector<std::string>{
                  Entry(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED,
                        {"HeartbeatInterval 2 in the service's key", "The next heartbeat follows them."}),
                  Entry(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED,
                        {"HeartbeatInterval 0 in the service's key", "The next heartbeat follows them."})}),
              Described(EventLogEntriesSince(logOffset_)))
        << "0 is no warning";
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
    for (size_t i = last + 1; i + 2 < log.size(); ++i) {
        if (AroundChange(log, i, thirtyWritten, frequency) || AroundChange(log, i, threeWritten, frequency)) continue;
        EXPECT_NEAR(i < three ? 2000 : 3000, gap(i), 300)
            << "gap " << i << ": 3 s and one request's 5 s end before the 10 s: used as configured";
    }
    EXPECT_EQ((std::vector<std::string>{
                  Entry(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_INTERVAL_REPLACED, {"45", "2", "10"}),
                  Entry(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED,
                        {"HeartbeatInterval 30 in the service's key", "The next heartbeat follows them."}),
                  Entry(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_INTERVAL_REPLACED, {"30", "2", "10"}),
                  Entry(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED,
                        {"HeartbeatInterval 3 in the service's key", "The next heartbeat follows them."})}),
              Described(EventLogEntriesSince(logOffset_)));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_READ, &key));
    DWORD stored = 0, size = sizeof(stored);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "HeartbeatInterval", nullptr, nullptr,
                                              reinterpret_cast<BYTE *>(&stored), &size));
    RegCloseKey(key);
    EXPECT_EQ(3u, stored) << "the registry keeps what the administrator wrote";
}

// The Group Policy key as a policy writes it, gone with the test.
struct PolicyValues {
    ~PolicyValues()
    {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPolicyKeyPath);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\Zynvarra");
    }
    bool Set(const char *name, DWORD value)
    {
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPolicyKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
            ERROR_SUCCESS) {
            return false;
        }
        LONG error = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&value), sizeof(value));
        RegCloseKey(key);
        return error == ERROR_SUCCESS;
    }
};

// "zynwatch -status" in this process: its lines, and its exit code in *exitCode.
static std::string StatusLines(int *exitCode)
{
    testing::internal::CaptureStdout();
    *exitCode = PrintServiceStatus(false);
    return testing::internal::GetCapturedStdout();
}

// TimeoutValue changed while the service runs: once the change has settled, the service arms the
// watchdog with it, Set then Reset, and names it in one entry. -status shows the value in use, and
// while the re-arm is still on its way (the BMC holds the Set) says that the registry's is not applied
// yet. A policy value then wins at once, and its withdrawal is applied the same way.
TEST_F(ServiceRuntime, AChangedTimeoutIsArmedWithoutARestartAndStatusShowsTheValueInUse)
{
    const std::vector<uint8_t> arm600 = {0x24, 0x04, 0x03, 0x00, 0x10, 0x70, 0x17};
    const std::vector<uint8_t> arm900 = {0x24, 0x04, 0x03, 0x00, 0x10, 0x28, 0x23};
    ASSERT_TRUE(CreateSessionTable()) << "-status reads the BMC";
    PolicyValues policy;
    SetHeartbeatInterval(2);
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    ImbSimBehaviour hold = {1, IMBSIM_HOLD | IMBSIM_ONLY_COMMAND, 0, 0, 0, 0, 0, 0, 0x24};
    ASSERT_TRUE(bmc_->SetBehaviour(hold));
    uint32_t first = bmc_->LoggedCount();
    long long written = CounterNow();
    SetServiceDword("TimeoutValue", 600);
    DWORD waited = 0;
    for (; bmc_->ReadCounters().heldRequests == 0 && waited < 10000; waited += 20) Sleep(20);
    ASSERT_EQ(1u, bmc_->ReadCounters().heldRequests) << "the re-arm's Set did not come";
    int exitCode = -1;
    std::string held = StatusLines(&exitCode);
    uint32_t released = 0;
    ASSERT_TRUE(bmc_->ReleaseHeld(&released));
    EXPECT_EQ(1u, released);
    EXPECT_NE(std::string::npos, held.find("\nTimeoutValue: 300 s\n")) << "the value in use: " << held;
    EXPECT_NE(std::string::npos,
              held.find("\nNot applied yet: TimeoutValue - the registry holds other values than the service uses\n"))
        << held;
    ASSERT_TRUE(WaitForCommand(kReset, first + 1, 10000)) << "the countdown starts afresh";
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(first, &frequency);
    std::vector<std::vector<uint8_t>> commands = Commands(log);
    size_t arm = std::find(commands.begin(), commands.end(), arm600) - commands.begin();
    ASSERT_LT(arm, log.size()) << "armed with the new countdown";
    EXPECT_EQ(kReset, commands[arm + 1]) << "then its countdown started";
    EXPECT_LT(CounterMs(written, log[arm].counter, frequency), kSettleQuietMs + 1000) << "within moments of the change";
    for (waited = 0; StatusLines(&exitCode).find("Not applied") != std::string::npos && waited < 10000; waited += 50) {
        Sleep(50);
    }
    std::string applied = StatusLines(&exitCode);
    EXPECT_NE(std::string::npos, applied.find("\nTimeoutValue: 600 s\n")) << applied;
    EXPECT_NE(std::string::npos, applied.find("\nBMC initial countdown: 600.0 s\n")) << applied;
    EXPECT_EQ(std::string::npos, applied.find("Not applied")) << applied;
    EXPECT_EQ(0, exitCode) << applied;

    first = bmc_->LoggedCount();
    ASSERT_TRUE(policy.Set("TimeoutValue", 900));
    ASSERT_TRUE(WaitForCommand(arm900, first, 10000)) << "the policy's value wins";
    for (waited = 0; StatusLines(&exitCode).find("Set by Group Policy") == std::string::npos && waited < 10000;
         waited += 50) {
        Sleep(50);
    }
    applied = StatusLines(&exitCode);
    EXPECT_NE(std::string::npos, applied.find("\nTimeoutValue: 900 s\nPreTimeoutAction")) << applied;
    EXPECT_NE(std::string::npos, applied.find("\nSet by Group Policy: TimeoutValue\n")) << applied;
    first = bmc_->LoggedCount();
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPolicyKeyPath)) << "as Group Policy withdraws its last value";
    ASSERT_TRUE(WaitForCommand(arm600, first, 10000)) << "the policy withdrawn, the service key's value again";
    SetServiceDword("ShutdownTimeout", 600);  // the preshutdown notice is accepted from now on
    SERVICE_STATUS_PROCESS status = {};
    for (waited = 0; waited < 10000 && QueryServiceState(service_, &status) &&
                     !(status.dwControlsAccepted & SERVICE_ACCEPT_PRESHUTDOWN);
         waited += 50) {
        Sleep(50);
    }
    EXPECT_EQ(kRunningControls | SERVICE_ACCEPT_PRESHUTDOWN, status.dwControlsAccepted);
    StopAndWait();
    DestroySessionTable();
    const std::string armed = "The BMC's watchdog is armed again with a countdown of ";
    EXPECT_EQ((std::vector<std::string>{
                  Entry(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED,
                        {"TimeoutValue 600 in the service's key", armed + "600 seconds and the timeout action power cycle."}),
                  Entry(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED,
                        {"TimeoutValue 900 from Group Policy", armed + "900 seconds and the timeout action power cycle."}),
                  Entry(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED,
                        {"TimeoutValue 600 in the service's key", armed + "600 seconds and the timeout action power cycle."}),
                  Entry(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED,
                        {"ShutdownTimeout 600 in the service's key", "The next heartbeat follows them."})}),
              Described(EventLogEntriesSince(logOffset_)));
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
    ASSERT_TRUE(WaitForLogged(kStartRequests, 10000)) << "running once the watchdog counts down";
    ASSERT_TRUE(WaitForServiceState(service_, SERVICE_RUNNING, 5000));
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
    EXPECT_EQ(kRunningControls, running.dwControlsAccepted);
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
        uint32_t before = bmc_->LoggedCount();  // the test's own arm and reset, the first time
        Start();
        ASSERT_TRUE(WaitForLogged(before + kStartRequests + 1, 10000));
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
    RunInControlHost();
    SetServiceDword("ShutdownTimeout", 600);
    SetServiceDword("SelEvents", 1);
    SetHeartbeatInterval(60);  // no heartbeat between the start and the shutdown
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 2, 10000)) << "the start, the boot's event, the loop's first heartbeat";
    SERVICE_STATUS_PROCESS running = {};
    ASSERT_TRUE(QueryServiceState(service_, &running));
    EXPECT_EQ(kRunningControls | SERVICE_ACCEPT_PRESHUTDOWN, running.dwControlsAccepted);
    StatusWatcher watcher(service_);
    uint32_t before = bmc_->LoggedCount();
    ASSERT_TRUE(bmc_->DelayAnswers(1500, 2));  // keeps the stop-pending state long enough to be seen
    ASSERT_TRUE(DeliverControl("ZynPreshutdownTest"));
    EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 15000));
    ReportedStatus shutdownPending = {SERVICE_STOP_PENDING, 0, kStopPending.checkPoint, kShutdownWaitHint,
                                      SERVICE_ACCEPT_STOP};
    ExpectSeenInOrder(watcher.Stop(), {shutdownPending, kStopped});
    std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog(before));
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{{0x24, 0x44, 0x03, 0x00, 0x10, 0x70, 0x17}, kReset, kShutdownEvent}),
              commands)
        << "the don't-stop Set with 600 s and the configured action, a reset, the shutdown into the BMC's log, and no "
           "stop request";
    ImbSimWatchdogState watchdog = bmc_->ReadWatchdog();
    EXPECT_EQ(1, watchdog.running);
    EXPECT_EQ(6000, watchdog.initialCountdown);
    EXPECT_EQ((std::vector<std::string>{Entry(EVENTLOG_INFORMATION_TYPE, MSG_SHUTDOWN_PHASE, {"600", "power cycle"})}),
              Described(EventLogEntriesSince(logOffset_)));
}

// With "SelEvents" as installed the BMC's log holds the operating system: "OS boot completed" once a
// boot of Windows, when the service has armed the watchdog (a restart of the service is no boot),
// and "OS graceful shutdown" at the shutdown control, which the service now accepts and answers
// without stopping the watchdog: the countdown goes on from the last heartbeat, as it did when the
// service got no notice. The control is handed to the service's handler in its own process (see
// preshutdown_host.cpp), as Wine never sends it.
TEST_F(ServiceRuntime, TheBootAndAShutdownAreInTheBmcsLog)
{
    RunInControlHost();
    SetServiceDword("SelEvents", 1);
    SetHeartbeatInterval(60);
    for (int start = 0; start < 2; ++start) {
        uint32_t first = bmc_->LoggedCount();
        Start();
        ASSERT_TRUE(WaitForLogged(first + kStartRequests + 1, 10000));
        std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog(first));
        EXPECT_EQ(start == 0 ? kBootEvent : kReset, commands[kStartRequests]) << "start " << start + 1;
        SERVICE_STATUS_PROCESS running = {};
        ASSERT_TRUE(QueryServiceState(service_, &running));
        EXPECT_EQ(kRunningControls | SERVICE_ACCEPT_SHUTDOWN, running.dwControlsAccepted);
        if (start == 0) {
            StopAndWait();
            WaitForServiceProcessEnd();
        }
    }
    uint32_t before = bmc_->LoggedCount();
    ASSERT_TRUE(DeliverControl("ZynShutdownTest"));
    EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 15000));
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{kShutdownEvent}), Commands(bmc_->ReadLog(before)))
        << "no stop request";
    EXPECT_EQ(1, bmc_->ReadWatchdog().running);
    std::vector<std::vector<uint8_t>> sel = bmc_->ReadSel();
    ASSERT_EQ(2u, sel.size());
    EXPECT_EQ((std::vector<uint8_t>{0x41, 0x00, 0x04, 0x1F, 0x00, 0x6F, 0x06, 0xFF, 0xFF}),
              std::vector<uint8_t>(sel[0].begin() + 7, sel[0].end()))
        << "generated by system management software on the system interface: OS boot completed";
    EXPECT_EQ((std::vector<uint8_t>{0x41, 0x00, 0x04, 0x20, 0x00, 0x6F, 0x03, 0xFF, 0xFF}),
              std::vector<uint8_t>(sel[1].begin() + 7, sel[1].end()))
        << "OS graceful shutdown";
    EXPECT_EQ(std::vector<std::string>{}, Described(EventLogEntriesSince(logOffset_)));
}

// A BMC that refuses the events costs one warning each and never the start; "SelEvents" 0 sends
// none, a value of another kind is named and the events are sent.
TEST_F(ServiceRuntime, ABmcThatRefusesTheEventsCostsAWarningAndSelEventsTurnsThemOff)
{
    struct Case {
        DWORD selEvents;
        bool refused;
        std::vector<std::string> entries;
    } cases[] = {
        {1, true, {Entry(EVENTLOG_WARNING_TYPE, MSG_SEL_EVENT_REFUSED, {"OS boot completed", "completion code 0xC1"})}},
        {0, false, {}},
        {7, false,
         {Entry(EVENTLOG_WARNING_TYPE, MSG_HEALTH_VALUE_IGNORED,
                {"SelEvents", "7 is neither 0 (off) nor 1 (on); the events are written"})}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.selEvents);
        ASSERT_TRUE(bmc_->Reset());
        SetServiceDword("SelEvents", c.selEvents);
        if (c.refused) {
            ImbSimBehaviour refuse = {};
            refuse.requestCount = IMBSIM_EVERY_REQUEST;
            refuse.fields = IMBSIM_SET_COMPLETION_CODE | IMBSIM_ONLY_COMMAND;
            refuse.completionCode = 0xC1;
            refuse.command = 0x02;
            ASSERT_TRUE(bmc_->SetBehaviour(refuse));
        }
        long long offset = DebugLogSize();
        Start();
        ASSERT_TRUE(WaitForLogged(kStartRequests + 2, 10000));
        EXPECT_TRUE(Running());
        StopAndWait();
        WaitForServiceProcessEnd();
        std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog());
        EXPECT_EQ(c.selEvents != 0, std::find(commands.begin(), commands.end(), kBootEvent) != commands.end());
        EXPECT_EQ(c.entries, Described(EventLogEntriesSince(offset)));
        EXPECT_EQ(c.selEvents == 7 ? 1u : 0u, bmc_->ReadSel().size());
    }
}

// Windows going to sleep and resuming. The power events are handed to the service's handler in its
// own process (see preshutdown_host.cpp): Wine has no sleep and sends services no power event. On
// Windows a suspend would also end the driver's clock until the resume.
TEST_F(ServiceRuntime, SleepStopsTheWatchdogAndTheResumeArmsItWithAHeartbeatAtOnce)
{
    RunInControlHost();
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    uint32_t awake = bmc_->LoggedCount();
    ASSERT_TRUE(DeliverControl("ZynSuspendTest"));
    ASSERT_TRUE(WaitForCommand(kStop, awake, 10000)) << "the stop request before Windows sleeps";
    EXPECT_EQ(0, bmc_->ReadWatchdog().running);
    uint32_t asleep = bmc_->LoggedCount();
    Sleep(2500);  // two heartbeat intervals
    EXPECT_EQ(asleep, bmc_->LoggedCount()) << "no heartbeat while Windows sleeps";
    EXPECT_TRUE(Running());
    long long resumed = CounterNow();
    ASSERT_TRUE(DeliverControl("ZynResumeTest"));
    ASSERT_TRUE(WaitForLogged(asleep + 3, 10000)) << "the arm, its reset and the next heartbeat";
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(asleep, &frequency);
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{kArmInstalled, kReset, kReset}), Commands(log));
    EXPECT_LT(CounterMs(resumed, log[0].counter, frequency), 1000.0) << "armed at once, not after the interval";
    EXPECT_EQ(1, bmc_->ReadWatchdog().running);
    StopAndWait();
    EXPECT_EQ((std::vector<std::string>{Entry(EVENTLOG_INFORMATION_TYPE, MSG_SLEEP_WATCHDOG_STOPPED, {}),
                                        Entry(EVENTLOG_INFORMATION_TYPE, MSG_RESUME_REARMS_WATCHDOG, {"300", "power cycle"})}),
              Described(EventLogEntriesSince(logOffset_)));
}

// A pre-timeout interrupt 5 s after each heartbeat, or one the BMC would refuse as not shorter than
// the timeout, is left out with one warning naming both values; an interval without an interrupt
// is armed as 0. The service runs in each case.
TEST_F(ServiceRuntime, APreTimeoutInterruptWithoutRoomIsLeftOutAndTheServiceRuns)
{
    struct Case {
        DWORD interrupt, interval, timeout;
        std::vector<uint8_t> arm;
        std::vector<std::string> entries;
    } cases[] = {
        {2, 20, 25, {0x24, 0x04, 0x03, 0x00, 0x10, 0xFA, 0x00},
         {Entry(EVENTLOG_WARNING_TYPE, MSG_PRETIMEOUT_LEFT_OUT, {"NMI / diagnostic interrupt (2)", "20", "25"})}},
        {1, 40, 30, {0x24, 0x04, 0x03, 0x00, 0x10, 0x2C, 0x01},
         {Entry(EVENTLOG_WARNING_TYPE, MSG_PRETIMEOUT_LEFT_OUT, {"SMI (1)", "40", "30"})}},
        {0, 40, 30, {0x24, 0x04, 0x03, 0x00, 0x10, 0x2C, 0x01}, {}},
        {2, 20, 50, {0x24, 0x04, 0x23, 0x14, 0x10, 0xF4, 0x01}, {}},  // 30 s of room
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.interrupt) + " at " + std::to_string(c.interval) + " s of " +
                     std::to_string(c.timeout) + " s");
        ASSERT_TRUE(bmc_->Reset());
        SetServiceDword("PreTimeoutAction", c.interrupt);
        SetServiceDword("PreTimeoutInterval", c.interval);
        SetServiceDword("TimeoutValue", c.timeout);
        long long offset = DebugLogSize();
        std::vector<std::vector<uint8_t>> commands = RunThroughOneHeartbeat();
        ASSERT_GE(commands.size(), 2u);
        EXPECT_EQ(c.arm, commands[1]);
        EXPECT_EQ(c.entries, Described(EventLogEntriesSince(offset)));
        WaitForServiceProcessEnd();
    }
}

static void PrepareServiceStateOnce()
{
    static bool prepared = (InitializeServiceState(), true);
    (void)prepared;
}

static std::vector<ReportedStatus> g_reports;

static SERVICE_STATUS_HANDLE WINAPI FakeStatusHandle(const char *, LPHANDLER_FUNCTION_EX, void *)
{
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5A5A);
}

static BOOL WINAPI KeepReport(SERVICE_STATUS_HANDLE, SERVICE_STATUS *status)
{
    g_reports.push_back(Reported(*status));
    return TRUE;
}

static HANDLE WINAPI RefuseEvent(SECURITY_ATTRIBUTES *, BOOL, BOOL, const char *)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

static std::vector<std::string> g_entries;

// The debug log shows the entries of services only; this process's own are kept here.
static BOOL WINAPI KeepEntry(HANDLE, WORD type, WORD, DWORD id, PSID, WORD count, DWORD, const char **strings, void *)
{
    g_entries.push_back(Entry(type, id, std::vector<std::string>(strings, strings + count)));
    return TRUE;
}

// The service main function in this process with the SCM's side watched and no event to be had,
// which Wine cannot be made to refuse otherwise: a start failure, with its entry and exit code 20.
TEST_F(ServiceRuntime, AStopEventThatCannotBeMadeIsAStartFailure)
{
    PrepareServiceStateOnce();
    g_reports.clear();
    g_entries.clear();
    {
        ImportHook handler("advapi32.dll", "RegisterServiceCtrlHandlerExA", reinterpret_cast<void *>(FakeStatusHandle));
        ImportHook status("advapi32.dll", "SetServiceStatus", reinterpret_cast<void *>(KeepReport));
        ImportHook event("kernel32.dll", "CreateEventA", reinterpret_cast<void *>(RefuseEvent));
        ImportHook entry("advapi32.dll", "ReportEventA", reinterpret_cast<void *>(KeepEntry));
        ASSERT_TRUE(handler.Installed() && status.Installed() && event.Installed() && entry.Installed());
        ServiceMain(0, nullptr);
    }
    ASSERT_EQ(4u, g_reports.size());
    const DWORD first = g_reports[0].checkPoint;
    EXPECT_EQ(Describe({SERVICE_START_PENDING, 0, first, 3000, 0}), Describe(g_reports[0]));
    EXPECT_EQ(Describe({SERVICE_START_PENDING, 0, first + 1, kKeeperStartWaitHintMs, 0}), Describe(g_reports[1]));
    EXPECT_EQ(Describe({SERVICE_STOP_PENDING, 20, first + 2, 0, SERVICE_ACCEPT_STOP}), Describe(g_reports[2]));
    EXPECT_EQ(Describe(kFailedStopped), Describe(g_reports[3]));
    EXPECT_EQ((std::vector<std::string>{
                  Entry(EVENTLOG_ERROR_TYPE, MSG_SERVICE_ERROR,
                        {"ZynAsrService error: 8", "The service cann't be started since failed to launch device or driver!"})}),
              g_entries);
    EXPECT_EQ(0u, bmc_->LoggedCount()) << "nothing was armed";
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
    for (int i = 0; i < kReportsPerThread; ++i) ServiceControlHandler(SERVICE_CONTROL_INTERROGATE, 0, nullptr, nullptr);
    return 0;
}

// The first ten records neither thread meant: running as reported, or stop-pending with the exit
// code, a check point above the last one sent and the wait hint of either thread.
static std::vector<std::string> RecordsNoThreadMeant(const std::vector<ReportedStatus> &sent)
{
    const ReportedStatus running = {SERVICE_RUNNING, 0, 0, 0, kRunningControls};
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
    PrepareServiceStateOnce();
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

// Start-pending until the watchdog counts down: a start whose arm fails never reports running, so
// whoever started the service (net start, a deployment tool) sees the start fail.
TEST_F(ServiceRuntime, BmcRejectingTheArmEndsTheStartWithExitCode20WithoutEverRunning)
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
    std::vector<ReportedStatus> seen = watcher.Stop();
    ExpectSeenInOrder(seen, {kArming, kFailedStopPending, kFailedStopped});
    for (const ReportedStatus &s : seen) EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), s.state) << Describe(s);
    std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog());
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{kGet, kArmInstalled, kStop}), commands) << "no reset after a failed arm";
    std::vector<std::string> strings = EventLogStringsSince(logOffset_);
    ASSERT_EQ(2u, strings.size()) << "one entry with two strings";
    EXPECT_EQ(0u, strings[0].rfind("ZynAsrService error: ", 0)) << strings[0];
    EXPECT_EQ("The service cann't be started since failed to launch device or driver!", strings[1]);
}

// Windows shows these entries in the Application log with the texts of zynwatch.exe's message
// table; Wine keeps no readable log and prints each insertion string on its eventlog channel.
// The stop requests fail as well: tried for about 10 s, then reported. No stop reached the BMC, so
// the end is 1117, not the start failure's 20: an earlier instance may have left the timer running,
// and a removal that read 20 would take away what can still stop it.
TEST_F(ServiceRuntime, DriverAbsentEndsTheStartWith1117AndSaysTheTimerMayStillRun)
{
    ASSERT_TRUE(ControlSimulatedDriver(false));
    StatusWatcher watcher(service_);
    Start();
    EXPECT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 30000));
    const ReportedStatus firstRetry = {SERVICE_STOP_PENDING, 20, kFailedStopPending.checkPoint + 1, kStopRetryWaitHintMs,
                                       SERVICE_ACCEPT_STOP};
    const ReportedStatus timerMayRun = {SERVICE_STOPPED, kStopFailureExitCode, 0, 0, SERVICE_ACCEPT_STOP};
    ExpectSeenInOrder(watcher.Stop(), {kArming, firstRetry, timerMayRun});
    SERVICE_STATUS_PROCESS last = {};
    ASSERT_TRUE(QueryServiceState(service_, &last));
    EXPECT_EQ(Describe(timerMayRun), Describe(Reported(last)));
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
    HMODULE program = LoadLibraryExA(ZynwatchPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, program) << GetLastError();
    struct Entry {
        DWORD id;
        int strings;  // as many as the service passes
    } entries[] = {{MSG_SERVICE_ERROR, 2},           {MSG_WATCHDOG_SETTINGS_LOST, 2},   {MSG_WATCHDOG_STILL_ARMED, 4},
                   {MSG_HEARTBEAT_INTERVAL_REPLACED, 3}, {MSG_HEARTBEAT_FAILED, 1},     {MSG_HEARTBEATS_RESUMED, 1},
                   {MSG_LAST_RESTART_BY_WATCHDOG, 2},    {MSG_WATCHDOG_SETTING_DIFFERS, 3}, {MSG_SHUTDOWN_PHASE, 2},
                   {MSG_SHUTDOWN_PHASE_REFUSED, 2},      {MSG_PRETIMEOUT_LEFT_OUT, 3},     {MSG_HEARTBEAT_FAILED_COUNTING, 3},
                   {MSG_HEARTBEATS_RESUMED_COUNTING, 3}, {MSG_SLEEP_WATCHDOG_STOPPED, 0},  {MSG_SLEEP_WATCHDOG_RUNNING, 4},
                   {MSG_RESUME_REARMS_WATCHDOG, 2},      {MSG_HEALTH_VALUE_IGNORED, 2},     {MSG_HEALTH_CHECK_FAILED, 3},
                   {MSG_HEALTH_CHECK_NEVER_PASSED, 2},   {MSG_HEALTH_CHECK_PASSED, 2},      {MSG_HEALTH_REPAIR_MENDED, 3},
                   {MSG_HEARTBEATS_WITHHELD, 7},         {MSG_HEARTBEATS_RESUMED_HEALTHY, 1}, {MSG_WITHHOLDING_REFUSED, 5},
                   {MSG_HEALTH_CHECKS_NOT_STARTED, 1},   {MSG_SEL_EVENT_REFUSED, 2},       {MSG_DRILL_PASSED, 2},
                   {MSG_DRILL_FAILED, 2},                {MSG_DRILL_INTERRUPTED, 2}};
    const int kMostStrings = 7;
    const char *names[kMostStrings] = {"<1>", "<2>", "<3>", "<4>", "<5>", "<6>", "<7>"};
    DWORD_PTR inserted[kMostStrings];
    for (int i = 0; i < kMostStrings; ++i) inserted[i] = reinterpret_cast<DWORD_PTR>(names[i]);
    for (const Entry &entry : entries) {
        char text[2048] = {};
        DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, program, entry.id, 0,
                                      text, sizeof(text), reinterpret_cast<va_list *>(inserted));
        ASSERT_NE(0u, length) << "no text for " << std::hex << entry.id;
        for (int i = 0; i < kMostStrings; ++i) {
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

// The health checks as an administrator configures them, around a folder of the test's own that
// TearDown removes with what it holds once the service is gone.
class ServiceHealth : public ServiceRuntime {
protected:
    void SetUp() override
    {
        ServiceRuntime::SetUp();
        RemoveFolder();
        ASSERT_TRUE(CreateDirectoryA(kFolder, nullptr)) << GetLastError();
        ASSERT_TRUE(CreateSessionTable()) << "-status reads the BMC";
    }

    void TearDown() override
    {
        ServiceRuntime::TearDown();
        DestroySessionTable();
        RemoveFolder();
    }

    static void RemoveFolder()
    {
        DeleteFileA(kMarker);
        DeleteFileA(kBlock);
        RemoveDirectoryA(kFolder);
    }

    // A REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ value; text holds its zeros but the last one.
    void SetServiceText(const char *name, DWORD type, const std::string &text)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_SET_VALUE, &key));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(text.c_str()),
                                                static_cast<DWORD>(text.size() + 1)));
        RegCloseKey(key);
    }

    // Waits for the count-th entry with the identifier since the test began; false after limitMs.
    bool WaitForEntry(DWORD id, size_t count, DWORD limitMs)
    {
        DWORD start = GetTickCount();
        for (;;) {
            size_t seen = 0;
            for (const LoggedEvent &e : EventLogEntriesSince(logOffset_)) seen += e.id == id;
            if (seen >= count) return true;
            if (GetTickCount() - start > limitMs) return false;
            Sleep(50);
        }
    }

    // "zynwatch -status" in this process: its lines and exit code.
    static std::string Status(int *exitCode)
    {
        testing::internal::CaptureStdout();
        *exitCode = PrintServiceStatus(false);
        return testing::internal::GetCapturedStdout();
    }

    // Only a key that does not exist is unpublished: one that cannot be read fails the test.
    static bool Published()
    {
        HKEY key;
        std::string path = std::string(kServiceKeyPath) + "\\Health";
        LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
        if (error != ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_FILE_NOT_FOUND, error) << path;
            return false;
        }
        RegCloseKey(key);
        return true;
    }

    // The processes of this prefix that run the program, by its file name.
    static int Processes(const char *program)
    {
        UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot.Valid()) return -1;
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof(entry);
        int count = 0;
        for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
            count += _stricmp(entry.szExeFile, program) == 0;
        }
        return count;
    }

    // Arrival of each Reset Watchdog Timer request after counter, by the driver's clock.
    std::vector<long long> ResetsAfter(long long counter)
    {
        std::vector<long long> arrivals;
        for (const ImbSimLogEntry &e : bmc_->ReadLog()) {
            if (e.counter > counter && e.packet[9] == 0x22) arrivals.push_back(e.counter);
        }
        return arrivals;
    }

    // Ends every process of this prefix that runs the program; false when one is left.
    static bool EndProcesses(const char *program)
    {
        UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot.Valid()) return false;
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
            if (_stricmp(entry.szExeFile, program) != 0) continue;
            UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
            if (process.Valid() && TerminateProcess(process.Get(), 1)) WaitForSingleObject(process.Get(), 5000);
        }
        return Processes(program) == 0;
    }

    static constexpr const char *kFolder = "C:\\zynhealth";
    static constexpr const char *kMarker = "C:\\zynhealth\\marker";
    static constexpr const char *kBlock = "C:\\zynhealth\\block";
};

static bool CreateEmptyFile(const char *path)
{
    UniqueFileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid();
}

// A check command that passes, then fails while a marker exists: after the 30 s grace the repair
// deletes the marker and mends it; the next time the repair cannot (a blocking file), so the
// heartbeats are withheld with the timer left running, until the marker goes and they resume at
// once. Two graces, about 70 s: the one run that withholds.
TEST_F(ServiceHealth, AFailingCheckIsRepairedThenWithheldUntilItPassesAndStatusSaysWhy)
{
    SetServiceText("HealthCommand", REG_EXPAND_SZ, "%SystemRoot%\\system32\\cmd.exe /c if exist C:\\zynhealth\\marker exit 1");
    SetServiceText("RepairCommand", REG_SZ, "cmd /c if not exist C:\\zynhealth\\block del C:\\zynhealth\\marker");
    SetServiceDword("HealthCheckInterval", 1);
    SetServiceDword("HealthGracePeriod", 30);
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 2, 10000));
    int exitCode = -1;
    for (int i = 0; i < 100 && Status(&exitCode).find("HealthCommand: passed") == std::string::npos; ++i) Sleep(100);
    ASSERT_NE(std::string::npos, Status(&exitCode).find("HealthCommand: passed since ")) << "the check passes at first";

    long long repaired = CounterNow();
    ASSERT_TRUE(CreateEmptyFile(kMarker));
    ASSERT_TRUE(WaitForEntry(MSG_HEALTH_REPAIR_MENDED, 1, 45000));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kMarker)) << "the repair deleted the marker";
    std::vector<long long> resets = ResetsAfter(repaired);
    ASSERT_GE(resets.size(), 28u) << "heartbeats all through the grace";
    long long frequency = CounterFrequency();
    for (size_t i = 1; i < resets.size(); ++i) EXPECT_NEAR(1000, CounterMs(resets[i - 1], resets[i], frequency), 300) << i;

    ASSERT_TRUE(CreateEmptyFile(kBlock));
    long long failed = CounterNow();
    FILETIME failedAt;
    GetSystemTimeAsFileTime(&failedAt);
    ASSERT_TRUE(CreateEmptyFile(kMarker));
    ASSERT_TRUE(WaitForEntry(MSG_HEARTBEATS_WITHHELD, 1, 45000));
    SetHeartbeatInterval(60);  // a heartbeat after the checks pass comes from the wake, not the pause
    Sleep(2000);
    resets = ResetsAfter(failed);
    ASSERT_FALSE(resets.empty());
    double lastHeartbeat = CounterMs(failed, resets.back(), frequency);
    EXPECT_GT(lastHeartbeat, 29000) << "the heartbeats went on through the grace";
    EXPECT_LT(lastHeartbeat, 33500) << "grace + one check interval + the checks' own time";
    EXPECT_EQ(1, bmc_->ReadWatchdog().running) << "the timer is left counting down";
    std::string status = Status(&exitCode);
    EXPECT_EQ(kStatusBmcWillAct, exitCode) << status;
    EXPECT_NE(std::string::npos, status.find("\nHeartbeats: withheld since ")) << status;
    EXPECT_NE(std::string::npos, status.find(" - HealthCommand has failed since ")) << status;
    EXPECT_NE(std::string::npos, status.find("\nProtected: no - the service withholds its heartbeats")) << status;
    ProgramRun drill(ZynwatchCommand("-drill 10"));
    EXPECT_EQ(3, drill.Wait(30000)) << "a drill would hide that the BMC is about to act";
    EXPECT_NE(std::string::npos, drill.Output().find("Drill: not run - the service withholds its heartbeats")) << drill.Output();
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_READ, &key));
    ULONGLONG withheldAt = 0;
    DWORD type = 0, size = sizeof(withheldAt);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "HealthLastWithheld", nullptr, &type,
                                              reinterpret_cast<BYTE *>(&withheldAt), &size));
    RegCloseKey(key);
    EXPECT_EQ(static_cast<DWORD>(REG_QWORD), type);
    EXPECT_EQ(8u, size);
    // The next day's withholding is judged by this time: the system's clock (UTC), when it withheld.
    FILETIME readAt;
    GetSystemTimeAsFileTime(&readAt);
    EXPECT_LT((ULONGLONG(failedAt.dwHighDateTime) << 32 | failedAt.dwLowDateTime), withheldAt);
    EXPECT_GE((ULONGLONG(readAt.dwHighDateTime) << 32 | readAt.dwLowDateTime), withheldAt);

    long long passed = CounterNow();
    ASSERT_TRUE(DeleteFileA(kMarker));
    ASSERT_TRUE(WaitForLoggedAfter(passed, 1, 10000)) << "the heartbeats resume";
    EXPECT_LT(CounterMs(passed, ResetsAfter(passed).front(), frequency), 5000) << "at once, not after the 60 s pause";
    StopAndWait();
    EXPECT_EQ(kStop, Commands(bmc_->ReadLog()).back()) << "a stop stops the timer";
    EXPECT_FALSE(Published()) << "the publication goes with the service";

    std::vector<LoggedEvent> entries = EventLogEntriesSince(logOffset_);
    ASSERT_EQ(7u, entries.size()) << ::testing::PrintToString(Described(entries));
    EXPECT_EQ(Entry(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED,
                    {"HeartbeatInterval 60 in the service's key", "The next heartbeat follows them."}),
              Describe(entries[4]))
        << "applied while the heartbeats are withheld";
    entries.erase(entries.begin() + 4);
    const std::string failure = Entry(EVENTLOG_WARNING_TYPE, MSG_HEALTH_CHECK_FAILED, {"HealthCommand", "exit code 1", "30"});
    EXPECT_EQ(failure, Describe(entries[0]));
    ASSERT_EQ(3u, entries[1].strings.size());
    EXPECT_EQ(Entry(EVENTLOG_WARNING_TYPE, MSG_HEALTH_REPAIR_MENDED,
                    {"HealthCommand", entries[1].strings[1], "the RepairCommand ran and ended with exit code 0"}),
              Describe(entries[1]));
    EXPECT_EQ(failure, Describe(entries[2]));
    ASSERT_EQ(7u, entries[3].strings.size());
    EXPECT_EQ(Entry(EVENTLOG_ERROR_TYPE, MSG_HEARTBEATS_WITHHELD,
                    {"HealthCommand", entries[3].strings[1], "exit code 1", "the RepairCommand ran and ended with exit code 0",
                     "power cycle", "300", entries[3].strings[6]}),
              Describe(entries[3]));
    EXPECT_EQ(MSG_HEALTH_CHECK_PASSED, entries[4].id);
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, entries[4].type);
    EXPECT_EQ(MSG_HEARTBEATS_RESUMED_HEALTHY, entries[5].id);
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, entries[5].type);
}

// A health check configured while the service runs starts without a restart, with the entry that
// names it; the heartbeats go on meanwhile.
TEST_F(ServiceHealth, ACheckConfiguredWhileTheServiceRunsStartsAtOnce)
{
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    EXPECT_FALSE(Published()) << "no check, no publication";
    SetServiceText("HealthFolder", REG_SZ, kFolder);
    int exitCode = -1;
    for (int i = 0; i < 100 && Status(&exitCode).find("HealthFolder: passed since ") == std::string::npos; ++i) Sleep(100);
    std::string status = Status(&exitCode);
    EXPECT_NE(std::string::npos, status.find("\nHealthFolder: passed since ")) << status;
    EXPECT_EQ(0, exitCode) << status;
    long long checked = CounterNow();
    ASSERT_TRUE(WaitForLoggedAfter(checked, 2, 5000)) << "the heartbeats go on";
    StopAndWait();
    EXPECT_FALSE(Published()) << "the publication goes with the service";
    EXPECT_EQ((std::vector<std::string>{Entry(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED,
                                              {"HealthFolder changed in the service's key",
                                               "The health checks start again with them."})}),
              Described(EventLogEntriesSince(logOffset_)));
}

// A command that hangs (a grandchild that sleeps for 600 s) counts as failed at its 3 s limit and
// its whole tree ends; a folder that disappears fails; a service that does not exist never
// passed: warned, not acted upon. The heartbeats keep their 1 s pace meanwhile, and a stop during
// a hung command is not held up by it. Wine's job objects behave as Windows' do here: a child the
// command starts joins its job, and TerminateJobObject ends both (without the job, each round
// leaves one more sleeping process behind).
TEST_F(ServiceHealth, HungCommandsVanishedFoldersAndMissingServicesNeverStallTheHeartbeats)
{
    std::string zyntest = ProgramBesideThis("zyntest.exe");
    SetServiceText("HealthCommand", REG_SZ, "cmd /c \"" + zyntest + "\" sleep 600");
    SetServiceDword("HealthCommandTimeout", 3);
    SetServiceText("HealthFolder", REG_SZ, kFolder);
    SetServiceText("HealthServices", REG_MULTI_SZ, std::string("imbsim") + '\0' + "ZynNoSuchService" + '\0');
    SetServiceDword("HealthCheckInterval", 1);
    SetServiceDword("HealthGracePeriod", 30);
    long long started = CounterNow();
    Start();
    ASSERT_TRUE(WaitForEntry(MSG_HEALTH_CHECK_NEVER_PASSED, 2, 15000));
    bool removed = false;
    for (int i = 0; i < 100 && !(removed = RemoveDirectoryA(kFolder)); ++i) Sleep(20);  // while no probe is in it
    ASSERT_TRUE(removed) << GetLastError();
    int most = 0;
    for (int i = 0; i < 40; ++i, Sleep(100)) most = std::max(most, Processes("zyntest.exe"));
    EXPECT_EQ(1, most) << "each hung command's tree ended at its limit";
    ASSERT_TRUE(WaitForEntry(MSG_HEALTH_CHECK_FAILED, 1, 15000));
    int exitCode = -1;
    std::string status = Status(&exitCode);
    EXPECT_EQ(kStatusProtected, exitCode) << status;
    EXPECT_NE(std::string::npos, status.find("\nHealthCommand: failed since ")) << status;
    EXPECT_NE(std::string::npos, status.find(" - no answer in 3 s; it never passed, so it is not acted upon\n")) << status;
    EXPECT_NE(std::string::npos, status.find("\nHealthServices imbsim: passed since ")) << status;
    EXPECT_NE(std::string::npos, status.find("\nHealthFolder: failed since ")) << status;

    ASSERT_GT(Processes("zyntest.exe"), 0) << "a command hangs as the stop comes";
    long long controlled = CounterNow();
    StopAndWait();
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    EXPECT_EQ(kStop, Commands(log).back());
    EXPECT_LT(CounterMs(controlled, log.back().counter, frequency), 1000) << "the hung command did not hold the stop";
    EXPECT_EQ(0, Processes("zyntest.exe")) << "the stop ended the hung command's tree";
    std::vector<long long> resets = ResetsAfter(started);
    ASSERT_GE(resets.size(), 8u);
    for (size_t i = 2; i < resets.size(); ++i) {
        EXPECT_NEAR(1000, CounterMs(resets[i - 1], resets[i], frequency), 300) << "heartbeat " << i;
    }
    std::vector<LoggedEvent> entries = EventLogEntriesSince(logOffset_);
    EXPECT_EQ((std::vector<std::string>{
                  Entry(EVENTLOG_WARNING_TYPE, MSG_HEALTH_CHECK_NEVER_PASSED, {"HealthCommand", "no answer in 3 s"}),
                  Entry(EVENTLOG_WARNING_TYPE, MSG_HEALTH_CHECK_NEVER_PASSED,
                        {"HealthServices ZynNoSuchService", "the service is not installed"}),
                  Entry(EVENTLOG_WARNING_TYPE, MSG_HEALTH_CHECK_FAILED, {"HealthFolder", "error 3", "30"})}),
              Described(entries));
}

// A command runs as LocalSystem on the administrator's say: it inherits its standard handles and no
// other handle of the service (here an inheritable event of this process). A check's whole tree
// ends with it; the programs a repair that ended in time started are left to run (a service it
// restarts, a tool it launches), and only a repair past its time limit loses its tree.
TEST_F(ServiceHealth, CommandsInheritOnlyTheStandardHandlesAndARepairsProgramsOutliveIt)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    UniqueHandle event(CreateEventA(&inheritable, TRUE, FALSE, nullptr));
    UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));  // the service's stop, never set here
    ASSERT_TRUE(event.Valid() && stop.Valid());
    std::string zyntest = "\"" + ProgramBesideThis("zyntest.exe") + "\"";
    std::string noHandle = zyntest + " no-handle " + std::to_string(reinterpret_cast<uintptr_t>(event.Get()));
    HealthResult inherited = RunHealthCommand(noHandle.c_str(), 30, stop.Get());
    EXPECT_TRUE(inherited.passed) << "exit code " << inherited.cause.value << ": the event reached the command";

    std::string starts = "cmd /c start /b \"\" " + zyntest + " sleep 60";
    ASSERT_TRUE(RunHealthCommand(starts.c_str(), 30, stop.Get()).passed);
    EXPECT_EQ(0, Processes("zyntest.exe")) << "a check's program ends with it";
    ASSERT_TRUE(RunRepairCommand(starts.c_str(), 30, stop.Get()).passed);
    EXPECT_EQ(1, Processes("zyntest.exe")) << "a repair's program lives on";
    EXPECT_TRUE(EndProcesses("zyntest.exe"));
    std::string hangs = "cmd /c " + zyntest + " sleep 60";
    HealthResult late = RunRepairCommand(hangs.c_str(), 2, stop.Get());
    EXPECT_EQ(static_cast<uint8_t>(kCauseNoAnswer), late.cause.kind);
    EXPECT_EQ(0, Processes("zyntest.exe")) << "a repair past its limit ends with its tree";
    EXPECT_TRUE(EndProcesses("zyntest.exe"));
}
