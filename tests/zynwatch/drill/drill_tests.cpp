// "zynwatch -drill" as an administrator runs it, against the simulated BMC and its firmware faults:
// through the running service, whose heartbeats pause for it, and alone while the service is
// stopped. Gaps are judged by the driver's clock.
#include "service_runtime_fixture.h"

#include "drill/drill_command.h"
#include "import_hook.h"
#include "session_table.h"
#include "test_watchdog_settings.h"
#include "watchdog/watchdog.h"

const DWORD kDrillLimitMs = 90000;
const std::vector<uint8_t> kDrillArm10 = {0x24, 0x04, 0x00, 0x00, 0x10, 0x64, 0x00};
const std::vector<uint8_t> kDrillArm20 = {0x24, 0x04, 0x00, 0x00, 0x10, 0xC8, 0x00};

class ServiceDrill : public ServiceRuntime {
protected:
    // The command run to its end: its exit code and what it printed.
    static long Drill(const std::string &arguments, std::string *output)
    {
        ProgramRun run(ZynwatchCommand("-drill " + arguments));
        EXPECT_TRUE(run.Started());
        long exitCode = run.Wait(kDrillLimitMs);
        *output = run.Output();
        return exitCode;
    }

    // The index of the first request with these command bytes from first on; the count if none.
    static size_t Find(const std::vector<std::vector<uint8_t>> &commands, const std::vector<uint8_t> &command,
                       size_t first = 0)
    {
        while (first < commands.size() && commands[first] != command) ++first;
        return first;
    }

    // The SEL's records of a sensor type, each from its generator ID on.
    std::vector<std::vector<uint8_t>> SelRecordsOf(uint8_t sensorType)
    {
        std::vector<std::vector<uint8_t>> found;
        for (const std::vector<uint8_t> &record : bmc_->ReadSel()) {
            if (record[10] == sensorType) found.emplace_back(record.begin() + 7, record.end());
        }
        return found;
    }

    // The entries of one identifier the service wrote since offset.
    static std::vector<LoggedEvent> EntriesOf(DWORD id, long long offset)
    {
        std::vector<LoggedEvent> found;
        for (const LoggedEvent &e : EventLogEntriesSince(offset)) {
            if (e.id == id) found.push_back(e);
        }
        return found;
    }

    std::vector<LoggedEvent> EntriesOf(DWORD id) { return EntriesOf(id, logOffset_); }

    void ExpectArmedAsConfigured()
    {
        ImbSimWatchdogState watchdog = bmc_->ReadWatchdog();
        EXPECT_EQ(1, watchdog.running);
        EXPECT_EQ(0x03, watchdog.timerActions);
        EXPECT_EQ(3000, watchdog.initialCountdown);
    }
};

// The drill arms SMS/OS with no action and 10 s and starts it; between that and the arm with the
// configured settings only Get Watchdog Timer and the SEL's reads go out, no heartbeat; the arm
// follows the expiry at once, and the heartbeats resume. The BMC's log holds the service's boot
// and the drill's Watchdog 2 record.
TEST_F(ServiceDrill, ThroughTheServiceItPassesWithTheHeartbeatsPausedAndTheArmingRestored)
{
    SetServiceDword("SelEvents", 1);
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 3, 10000)) << "the start, the boot's event, a heartbeat";
    std::string output;
    EXPECT_EQ(0, Drill("10", &output)) << output;
    EXPECT_EQ(0u, output.find("Drill of the BMC's watchdog through the service: a 10 s countdown")) << output;
    EXPECT_NE(std::string::npos, output.find("\nArmed the timer again as configured: power cycle, 300 s")) << output;
    EXPECT_NE(std::string::npos, output.find("\nDrill: passed - this BMC's watchdog counts at ")) << output;
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_->ReadLog(0, &frequency);
    std::vector<std::vector<uint8_t>> commands = Commands(log);
    size_t arm = Find(commands, kDrillArm10), rearm = Find(commands, kArmInstalled, arm);
    ASSERT_LT(rearm + 1, commands.size()) << "the drill's arm, then the configured one";
    EXPECT_EQ(kReset, commands[arm + 1]) << "the drill's countdown started";
    EXPECT_EQ(kReset, commands[rearm + 1]) << "the configured countdown started";
    size_t gets = 0;
    for (size_t i = arm + 2; i < rearm; ++i) {
        EXPECT_TRUE(commands[i] == kGet || commands[i][0] == 0x40 || commands[i][0] == 0x43) << "request " << i;
        gets += commands[i] == kGet;
    }
    EXPECT_GE(gets, 5u) << "four readings of the countdown and the expiry";
    EXPECT_LT(CounterMs(log[arm - 1].counter, log[arm].counter, frequency), 1500) << "right after a heartbeat";
    ImbSimWatchdogState watchdog = bmc_->ReadWatchdog();
    ASSERT_GE(watchdog.eventCount, 1u);
    const ImbSimWatchdogEvent &expiry = watchdog.events[watchdog.eventCount - 1];
    EXPECT_EQ(0, expiry.action);
    EXPECT_LT(CounterMs(expiry.counter, log[rearm].counter, frequency), 2000) << "armed again at once";
    ExpectArmedAsConfigured();
    ASSERT_TRUE(WaitForLoggedAfter(log.back().counter, 2, 5000)) << "the heartbeats resume";
    EXPECT_EQ(kReset, Commands(bmc_->ReadLog(static_cast<uint32_t>(log.size()))).front());
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{{0x41, 0x00, 0x04, 0x1F, 0x00, 0x6F, 0x06, 0xFF, 0xFF}}),
              SelRecordsOf(0x1F))
        << "the boot, from system management software";
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{{0x20, 0x00, 0x04, 0x23, 0x81, 0x6F, 0xC0, 0x04, 0xFF}}),
              SelRecordsOf(0x23))
        << "timer expired, status only, for SMS/OS";
    std::vector<LoggedEvent> passed = EntriesOf(MSG_DRILL_PASSED);
    ASSERT_EQ(1u, passed.size());
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, passed[0].type);
    ASSERT_EQ(2u, passed[0].strings.size());
    EXPECT_EQ(0u, passed[0].strings[0].find("this BMC's watchdog counts at ")) << passed[0].strings[0];
    EXPECT_EQ("Afterwards the service armed the watchdog again as configured", passed[0].strings[1]);
    StopAndWait();
}

// Firmware that counts at half pace fails at the pace check, long before its slow expiry; one whose
// countdown never expires fails at the deadline; a full SEL records no expiry. Through the service
// the configured arming follows each; alone the timer is stopped as it was found.
TEST_F(ServiceDrill, TheBmcsFaultsFailItAndTheTimerIsLeftAsItShouldBe)
{
    struct Case {
        const char *name;
        uint8_t quirks;
        uint16_t selCapacity;
        bool throughService;
        const char *verdict;
    } cases[] = {
        {"half pace", IMBSIM_QUIRK_HALF_PACE, IMBSIM_SEL_MAX_RECORDS, true,
         "\nDrill: failed - the countdown fell 3."},
        {"never expires", IMBSIM_QUIRK_NEVER_EXPIRES, IMBSIM_SEL_MAX_RECORDS, false,
         " after the start of a 10 s countdown the timer has not expired: it still runs\n"},
        {"full SEL", 0, 16, true, "\nDrill: failed - the timer expired, but the BMC's SEL is full"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(bmc_->Reset());
        ASSERT_TRUE(bmc_->SetQuirks(c.quirks));
        ASSERT_TRUE(bmc_->SetSel(c.selCapacity, c.selCapacity == IMBSIM_SEL_MAX_RECORDS ? 0 : c.selCapacity));
        long long offset = DebugLogSize();
        if (c.throughService) {
            Start();
            ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
        }
        std::string output;
        EXPECT_EQ(4, Drill("10 -json", &output)) << output;
        EXPECT_EQ(0u, output.find("{\"formatVersion\":1,\"mode\":\"")) << output;
        EXPECT_NE(std::string::npos, output.find("\"verdict\":\"failed\"")) << output;
        EXPECT_NE(std::string::npos, output.find("\"exitCode\":4}\n")) << output;
        std::string text;
        EXPECT_EQ(4, Drill("10", &text)) << "and the text form";
        EXPECT_NE(std::string::npos, text.find(c.verdict)) << text;
        if (c.throughService) {
            std::vector<LoggedEvent> failed = EntriesOf(MSG_DRILL_FAILED, offset);
            ASSERT_EQ(2u, failed.size()) << "the service's entries";
            EXPECT_EQ(EVENTLOG_ERROR_TYPE, failed[0].type);
            ExpectArmedAsConfigured();
            StopAndWait();
            WaitForServiceProcessEnd();
        } else {
            EXPECT_EQ(kStop, Commands(bmc_->ReadLog()).back()) << "stopped as found";
            EXPECT_EQ(0, bmc_->ReadWatchdog().running);
        }
    }
}

// With the service stopped the drill runs alone and ends with the stop request the service would
// send, which also clears the expiration flag. It does not start while another drill runs, with a
// countdown out of range, over a timer some other program runs, or without the service.
static std::vector<std::string> g_entries;

// Wine's debug log shows the entries of services only; the command's own are kept here.
static BOOL WINAPI KeepEntry(HANDLE, WORD type, WORD, DWORD id, PSID, WORD count, DWORD, const char **strings, void *)
{
    g_entries.push_back(Entry(type, id, std::vector<std::string>(strings, strings + count)));
    return TRUE;
}

// The command in this process, so that its entry can be watched: its exit code and what it printed.
static int DrillHere(uint32_t seconds, std::string *output)
{
    g_entries.clear();
    ImportHook entry("advapi32.dll", "ReportEventA", reinterpret_cast<void *>(KeepEntry));
    EXPECT_TRUE(entry.Installed());
    EXPECT_TRUE(CreateSessionTable());
    testing::internal::CaptureStdout();
    int exitCode = RunDrillCommand(seconds, false);
    *output = testing::internal::GetCapturedStdout();
    DestroySessionTable();
    return exitCode;
}

TEST_F(ServiceDrill, AloneItPassesAndStopsTheTimerAndItRefusesWhatItShouldNotRun)
{
    std::string output;
    EXPECT_EQ(0, DrillHere(10, &output)) << output;
    EXPECT_NE(std::string::npos, output.find("; the service is stopped\n")) << output;
    EXPECT_NE(std::string::npos, output.find("\nStopped the timer, as it was found\nDrill: passed - ")) << output;
    std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog());
    EXPECT_LT(Find(commands, kDrillArm10), commands.size());
    EXPECT_EQ(kStop, commands.back());
    ImbSimWatchdogState watchdog = bmc_->ReadWatchdog();
    EXPECT_EQ(0, watchdog.running);
    EXPECT_EQ(0x00, watchdog.expirationFlags) << "the stop request cleared the drill's flag";
    ASSERT_EQ(1u, g_entries.size()) << "the command writes the entry itself";
    EXPECT_EQ(0u, g_entries[0].find(Entry(EVENTLOG_INFORMATION_TYPE, MSG_DRILL_PASSED, {}))) << g_entries[0];
    EXPECT_NE(std::string::npos, g_entries[0].find("\"Afterwards the timer was stopped, as it was found\""))
        << g_entries[0];

    uint32_t logged = bmc_->LoggedCount();
    EXPECT_EQ(3, Drill("9", &output));
    EXPECT_EQ("Drill: not run - its countdown must be 10 to 120 s\n", output);
    {
        UniqueHandle mutex(CreateMutexA(nullptr, TRUE, "Global\\ZynAsrServiceDrill"));
        ASSERT_TRUE(mutex.Valid());
        EXPECT_EQ(3, Drill("", &output));
        EXPECT_EQ("Drill: not run - another drill runs\n", output);
        ReleaseMutex(mutex.Get());
    }
    EXPECT_EQ(logged, bmc_->LoggedCount()) << "neither asked the BMC anything";
    ASSERT_TRUE(CreateSessionTable());
    EXPECT_TRUE(ArmWatchdog(Settings(1, 0, 300, 0)));
    EXPECT_TRUE(ResetWatchdog());
    DestroySessionTable();
    logged = bmc_->LoggedCount();
    EXPECT_EQ(3, Drill("10", &output));
    EXPECT_NE(std::string::npos, output.find("\nDrill: not run - the BMC's timer runs although the service is stopped"))
        << output;
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{kGet}), Commands(bmc_->ReadLog(logged))) << "it only looked";
    CloseServiceHandle(service_);  // the SCM deletes the service with its last handle
    service_ = nullptr;
    ASSERT_TRUE(RemoveServiceIfPresent(kServiceName));
    EXPECT_EQ(1, Drill("10", &output));
    EXPECT_EQ("Drill: not run - the service ZynAsrService is not installed\n", output);
}

// A stop during the drill ends it at once: the configured arming is restored, then the stop request
// follows as at every stop. The command says the drill ended without a verdict.
TEST_F(ServiceDrill, AStopDuringItRestoresTheConfiguredArmingBeforeTheStop)
{
    Start();
    ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
    uint32_t first = bmc_->LoggedCount();
    ProgramRun run(ZynwatchCommand("-drill 20"));
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(WaitForCommand(kDrillArm20, first, 15000));
    StopAndWait();
    EXPECT_EQ(3, run.Wait(30000)) << run.Output();
    std::string output = run.Output();
    EXPECT_EQ(0u, output.substr(output.rfind('\n', output.size() - 2) + 1).find("Drill: interrupted - the service "))
        << "stopping, or stopped before its verdict reached the command: " << output;
    std::vector<std::vector<uint8_t>> commands = Commands(bmc_->ReadLog(first));
    size_t arm = Find(commands, kDrillArm20), rearm = Find(commands, kArmInstalled, arm);
    ASSERT_LT(rearm + 1, commands.size()) << "armed again as configured";
    EXPECT_EQ(kReset, commands[rearm + 1]);
    EXPECT_EQ(kStop, commands.back());
    std::vector<LoggedEvent> interrupted = EntriesOf(MSG_DRILL_INTERRUPTED);
    ASSERT_EQ(1u, interrupted.size());
    EXPECT_EQ((std::vector<std::string>{"the service is stopping",
                                        "Afterwards the service armed the watchdog again as configured"}),
              interrupted[0].strings);
}
