// The watchdog's life cycle in the test bed, as docs/lifecycle.md draws it: one row per cell that
// the test bed can bring about, each naming the service's state, the event and what must follow,
// judged by the real programs' ends, the SCM, the simulated BMC's timer, the service's entries and
// -status. The rows run in order; a row whose state the one before left in place goes on from
// there, any other brings its state about afresh.
#include "service_runtime_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "session_table.h"
#include "status/status_command.h"

enum class State {
    None,               // left by an event as no row needs it
    NotInstalled,
    Stopped,            // installed, never started
    Starting,           // its first request answered after 3 s
    Running,
    RunningAfterFlap,   // TimeoutValue 30; one busy answer told and its end
    Retrying,           // TimeoutValue 30; the BMC silent, the lasting failure told
    Withholding,        // a health check failed past its grace, in the control host
    RunningInHost,      // the service in the control host, which takes the power events
    Suspended,          // in the control host
    StoppingForGood,    // every stop request refused
    StoppingAWhile,     // three stop requests refused
    StoppedClean,
    StoppedTimerLeft,   // 1117: every stop request refused
    Killed,
};

const char *const kStateNames[] = {"-", "not installed", "installed, stopped", "starting", "running",
                                   "running after a flap", "retrying a failed heartbeat", "withholding",
                                   "running in the control host", "suspended", "stopping, every stop refused",
                                   "stopping, three stops refused", "stopped cleanly",
                                   "stopped with the timer left running", "ended by a kill"};

const int kNoCommand = -1;
const int kAny = -2;      // not judged: it depends on the moment, or the BMC cannot be read
const int kRefused = -3;  // a control the service's state does not take: Windows' 1061; Wine's SCM gives 1052

// What must hold once the event is over.
struct Outcome {
    const char *service;          // the SCM's view: "absent", "running", "stopped 1117" ...
    int timer;                    // the BMC's timer: 1 counting down, 0 stopped, or kAny
    std::vector<DWORD> entries;   // the service's entries the event brought, in order
    int exitCode;                 // of the command or control the event ran; kNoCommand when none
    const char *printed;          // a line the command printed, "" for no check
    int status;                   // "zynwatch -status" exit code; kAny where it depends on the moment
};

class Lifecycle;

struct Row {
    State state;
    const char *event;
    void (*act)(Lifecycle *);
    Outcome expected;
    State leaves;  // the state the event leaves, for the next row to go on from
};

class Lifecycle : public ServiceRuntime {
protected:
    void SetUp() override
    {
        ServiceRuntime::SetUp();
        ASSERT_TRUE(CreateSessionTable()) << "-status reads the BMC";
        RemoveFolder();
        ASSERT_TRUE(CreateDirectoryA(kFolder, nullptr)) << GetLastError();
    }

    void TearDown() override
    {
        DeleteFileA(kInstalledLibrary);
        ServiceRuntime::TearDown();
        DestroySessionTable();
        RemoveFolder();
    }

public:
    // Runs the row: its state, from the one the last row left when that is it, then the event and
    // the judgement. A row that fails leaves no state for the next.
    void Walk(const Row &row)
    {
        int failures = Failures();
        if (row.state != current_) Bring(row.state);
        if (Failures() == failures) {
            BeginEvent();
            row.act(this);
        }
        if (Failures() == failures) Judge(row.expected);
        current_ = Failures() == failures ? row.leaves : State::None;
    }

private:
    static int Failures()
    {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    }

    // Each step only once the ones before it succeeded.
    void Steps(std::initializer_list<void (Lifecycle::*)()> steps)
    {
        int failures = Failures();
        for (auto step : steps) {
            if (Failures() != failures) return;
            (this->*step)();
        }
    }

    void Bring(State state)
    {
        Afresh();
        switch (state) {
        case State::None: return;
        case State::NotInstalled: return RemoveService();
        case State::Stopped: return;
        case State::Starting: return StartSlowly();
        case State::Running: return StartRunning();
        case State::RunningAfterFlap: return FlapOnce();
        case State::Retrying: return Steps({&Lifecycle::FlapOnce, &Lifecycle::GoSilentUntilLasting});
        case State::Withholding: return Withhold();
        case State::RunningInHost: return Steps({&Lifecycle::RunInControlHost, &Lifecycle::StartRunning});
        case State::Suspended:
            return Steps({&Lifecycle::RunInControlHost, &Lifecycle::StartRunning, &Lifecycle::Suspend});
        case State::StoppingForGood: return StopWhileRefused(IMBSIM_EVERY_REQUEST);
        case State::StoppingAWhile: return StopWhileRefused(3);
        case State::StoppedClean: return Steps({&Lifecycle::StartRunning, &Lifecycle::Stop});
        case State::StoppedTimerLeft:
            return Steps({&Lifecycle::StopWhileRefusedForGood, &Lifecycle::WaitStopped, &Lifecycle::Answer});
        case State::Killed: return Steps({&Lifecycle::StartRunning, &Lifecycle::Kill});
        }
    }

    void Judge(const Outcome &e)
    {
        EXPECT_EQ(e.service, ServiceFact());
        if (e.timer != kAny) EXPECT_EQ(e.timer, bmc_->ReadWatchdog().running) << "the BMC's timer";
        std::vector<DWORD> ids;
        for (const LoggedEvent &entry : EventLogEntriesSince(rowOffset_)) ids.push_back(entry.id);
        EXPECT_EQ(e.entries, ids) << ::testing::PrintToString(Described(EventLogEntriesSince(rowOffset_)));
        if (e.exitCode == kRefused) {
            EXPECT_TRUE(exitCode_ == ERROR_SERVICE_CANNOT_ACCEPT_CTRL || exitCode_ == ERROR_INVALID_SERVICE_CONTROL)
                << exitCode_;
        } else {
            EXPECT_EQ(e.exitCode, exitCode_) << printed_;
        }
        EXPECT_NE(std::string::npos, printed_.find(e.printed)) << printed_;
        if (e.status != kAny) EXPECT_EQ(e.status, Status()) << statusText_;
    }

    void BeginEvent()
    {
        rowOffset_ = DebugLogSize();
        exitCode_ = kNoCommand;
        printed_.clear();
    }

public:
    // The events.
    static void StartIt(Lifecycle *t) { t->StartEvent(); }
    static void StopIt(Lifecycle *t) { t->StopEvent(); }
    static void RemoveIt(Lifecycle *t) { t->RunWithoutHandle(ZYN_TEST_ZYNWATCH_EXE, "-remove"); }
    static void UninstallIt(Lifecycle *t) { t->Uninstall(); }
    static void BusyOnce(Lifecycle *t) { t->BusyHeartbeat(); }
    static void BusyArm(Lifecycle *t) { t->RefuseArm(); }
    static void Silent(Lifecycle *t) { t->Steps({&Lifecycle::GoSilentUntilLasting, &Lifecycle::ExpectWhenTheBmcActs}); }
    static void AnswersAgain(Lifecycle *t) { t->AnswerUntilResumed(); }
    static void ColdReset(Lifecycle *t) { t->ResetBmc(); }
    static void SuspendIt(Lifecycle *t) { t->Suspend(); }
    static void ResumeIt(Lifecycle *t) { t->Resume(); }
    static void SleepAndWake(Lifecycle *t) { t->Steps({&Lifecycle::Suspend, &Lifecycle::Resume}); }
    static void SuspendBusy(Lifecycle *t) { t->SuspendWithABusyAnswer(); }
    static void StartWithoutDevice(Lifecycle *t) { t->StartWithoutTheDevice(); }

private:
    // No service, no process of it left, the driver up with a fresh BMC, then the service as installed.
    // A service deleted while its process runs on (a row that failed) goes once the process is ended.
    void Afresh()
    {
        rowOffset_ = DebugLogSize();  // the steps that bring the state wait for their own entries
        if (service_ != nullptr) CloseServiceHandle(service_);
        service_ = nullptr;
        bool removed = RemoveServiceIfPresent(kServiceName);
        EndServiceProcess();
        if (!removed) ASSERT_TRUE(RemoveServiceIfPresent(kServiceName));
        ASSERT_TRUE(ControlSimulatedDriver(true));
        bmc_.reset(new SimulatedBmc());
        ASSERT_TRUE(bmc_->Reset());
        DeleteFileA(kMarker);
        service_ = CreateZynwatchService(manager_);
        ASSERT_NE(nullptr, service_) << GetLastError();
        WriteServiceConfiguration(3, 0);
        SetHeartbeatInterval(1);
    }

    // A process a row ended by force, or one a deleted service still runs, is gone before the next.
    void EndServiceProcess()
    {
        if (process_.Valid() && WaitForSingleObject(process_.Get(), 15000) != WAIT_OBJECT_0) {
            UniqueHandle killer(OpenProcess(PROCESS_TERMINATE, FALSE, GetProcessId(process_.Get())));
            if (killer.Valid()) TerminateProcess(killer.Get(), 1);
            WaitForSingleObject(process_.Get(), 5000);
        }
        process_.Reset();
    }

    void RemoveService()
    {
        CloseServiceHandle(service_);
        service_ = nullptr;
        ASSERT_TRUE(RemoveServiceIfPresent(kServiceName));
    }

    void StartRunning()
    {
        Start();
        ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 15000)) << "the start and a heartbeat";
        ASSERT_TRUE(Running());
    }

    // The first request, Get Watchdog Timer, answered after 3 s: the start is pending meanwhile, in
    // the report that comes right before the start's requests.
    void StartSlowly()
    {
        ASSERT_TRUE(bmc_->DelayAnswers(3000, 1));
        Start();
        SERVICE_STATUS_PROCESS status = {};
        for (DWORD waited = 0; waited < 5000 && !(Reported(status) == kArming); waited += 5) {
            ASSERT_TRUE(QueryServiceState(service_, &status));
            Sleep(5);
        }
        ASSERT_EQ(Describe(kArming), Describe(Reported(status)));
    }

    void Stop()
    {
        SERVICE_STATUS status = {};
        ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        WaitStopped();
    }

    void WaitStopped() { ASSERT_TRUE(WaitForServiceState(service_, SERVICE_STOPPED, 30000)) << ServiceFact(); }

    void Answer() { ASSERT_TRUE(bmc_->SetBehaviour(ImbSimBehaviour{})); }

    void StopWhileRefusedForGood() { StopWhileRefused(IMBSIM_EVERY_REQUEST); }

    // Running, then the stop control while the BMC refuses `refused` stop requests (busy): stopping.
    void StopWhileRefused(uint32_t refused)
    {
        StartRunning();
        ImbSimBehaviour busy = {};
        busy.requestCount = refused;
        busy.fields = IMBSIM_SET_COMPLETION_CODE | IMBSIM_ONLY_COMMAND;
        busy.completionCode = 0xC0;
        busy.command = kStop[0];
        ASSERT_TRUE(bmc_->SetBehaviour(busy));
        SERVICE_STATUS status = {};
        ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        ASSERT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), status.dwCurrentState);
    }

    void Kill()
    {
        SERVICE_STATUS_PROCESS status = {};
        ASSERT_TRUE(QueryServiceState(service_, &status));
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
        ASSERT_TRUE(process.Valid() && TerminateProcess(process.Get(), 1));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 5000));
    }

    // TimeoutValue 30: a lasting failure is told after 10 s. One busy heartbeat, told, and its end.
    void FlapOnce()
    {
        SetServiceDword("TimeoutValue", 30);
        StartRunning();
        ASSERT_TRUE(bmc_->AnswerWithCompletionCode(0xC0, 1));
        ASSERT_TRUE(WaitForEntry(MSG_HEARTBEATS_RESUMED, 10000));
    }

    // The BMC answers nothing any more (its driver's time-out status) until the failure is told as lasting.
    void GoSilentUntilLasting()
    {
        ASSERT_TRUE(bmc_->CompleteWithStatus(IMB_STATUS_TIMEOUT, IMBSIM_EVERY_REQUEST));
        ASSERT_TRUE(WaitForEntry(MSG_HEARTBEATS_FAILING, 25000)) << "a third of the 30 s deadline, and room";
    }

    // Entry 16 after 10 s of failures, the countdown of 30 s having run down as long.
    void ExpectWhenTheBmcActs()
    {
        for (const LoggedEvent &e : EventLogEntriesSince(rowOffset_)) {
            if (e.id != MSG_HEARTBEATS_FAILING) continue;
            ASSERT_EQ(5u, e.strings.size());
            EXPECT_EQ("error 258 (no answer in time)", e.strings[1]);
            EXPECT_EQ("power cycle", e.strings[2]);
            int failing = atoi(e.strings[0].c_str()), left = atoi(e.strings[4].c_str());
            EXPECT_TRUE(failing >= 10 && failing <= 13) << failing << " s failing";
            EXPECT_TRUE(left >= 15 && left <= 20) << left << " s left";
        }
    }

    // The recovery's entry counts the failure the hourly limit left out at the start of the silence.
    void AnswerUntilResumed()
    {
        Answer();
        ASSERT_TRUE(WaitForEntry(MSG_HEARTBEATS_RESUMED_COUNTING, 10000));
    }

    // A check that passes, then fails past its 30 s grace: the heartbeats are withheld.
    void Withhold()
    {
        RunInControlHost();
        SetText("HealthCommand", std::string("cmd /c if exist ") + kMarker + " exit 1");
        SetServiceDword("HealthCheckInterval", 1);
        SetServiceDword("HealthGracePeriod", 30);
        StartRunning();
        Sleep(2500);  // a round that passes
        UniqueFileHandle marker(CreateFileA(kMarker, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(marker.Valid());
        ASSERT_TRUE(WaitForEntry(MSG_HEARTBEATS_WITHHELD, 45000));
    }

    // Windows sleeps once the handler returns: the stop, refused once by a BMC busy for 0.6 s, is
    // tried again within the handler's time, not a second later.
    void SuspendWithABusyAnswer()
    {
        ImbSimBehaviour busy = {};
        busy.requestCount = 1;
        busy.fields = IMBSIM_SET_COMPLETION_CODE | IMBSIM_SET_DELAY | IMBSIM_ONLY_COMMAND;
        busy.completionCode = 0xC0;
        busy.delayMs = 600;
        busy.command = kStop[0];
        ASSERT_TRUE(bmc_->SetBehaviour(busy));
        UniqueHandle returned(OpenEventA(SYNCHRONIZE, FALSE, "ZynControlReturnedTest"));
        ASSERT_TRUE(returned.Valid()) << "the control host tells when its handler returns";
        uint32_t before = bmc_->LoggedCount();
        ASSERT_TRUE(DeliverControl("ZynSuspendTest"));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(returned.Get(), 10000));
        long long handlerReturned = CounterNow();
        ASSERT_TRUE(WaitForEntry(MSG_SLEEP_WATCHDOG_STOPPED, 15000));
        std::vector<ImbSimLogEntry> log = bmc_->ReadLog(before);
        // A heartbeat already on its way when the notice came is answered first.
        while (!log.empty() && Commands({log.front()})[0] != kStop) log.erase(log.begin());
        ASSERT_EQ(2u, log.size()) << "the refused stop and the one that succeeded";
        EXPECT_EQ(kStop, Commands(log)[1]);
        EXPECT_LT(log[1].completedCounter, handlerReturned) << "the timer was stopped before the handler returned";
    }

    void Suspend()
    {
        ASSERT_TRUE(DeliverControl("ZynSuspendTest"));
        ASSERT_TRUE(WaitForEntry(MSG_SLEEP_WATCHDOG_STOPPED, 15000));
    }

    void Resume()
    {
        uint32_t before = bmc_->LoggedCount();
        ASSERT_TRUE(DeliverControl("ZynResumeTest"));
        ASSERT_TRUE(WaitForEntry(MSG_RESUME_REARMS_WATCHDOG, 10000));
        ASSERT_TRUE(WaitForCommand(kReset, before, 10000)) << "armed and started again";
    }

    void StartEvent()
    {
        UniqueServiceHandle service(OpenServiceA(manager_, kServiceName, SERVICE_START | SERVICE_QUERY_STATUS));
        if (!service.Valid() || !StartServiceA(service.Get(), 0, nullptr)) {
            exitCode_ = static_cast<int>(GetLastError());
            return;
        }
        exitCode_ = 0;
        SERVICE_STATUS_PROCESS status = {};
        if (QueryServiceState(service.Get(), &status)) {
            process_.Reset(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
        }
        WatchStartUntilSettled();
    }

    // Start-pending until the watchdog counts down: when the SCM first shows running, the BMC has the
    // start's reset, and a start that fails never shows running.
    void WatchStartUntilSettled()
    {
        for (DWORD waited = 0; waited < 30000; waited += 5) {
            SERVICE_STATUS_PROCESS status = {};
            if (!QueryServiceState(service_, &status)) return;
            if (status.dwCurrentState == SERVICE_STOPPED) return;
            if (status.dwCurrentState == SERVICE_RUNNING) {
                EXPECT_EQ(1, bmc_->ReadWatchdog().running) << "running reported before the watchdog counted down";
                ASSERT_TRUE(WaitForLogged(kStartRequests + 1, 10000));
                return;
            }
            Sleep(5);
        }
        ADD_FAILURE() << "the start never settled";
    }

    void StopEvent()
    {
        SERVICE_STATUS status = {};
        exitCode_ = ControlService(service_, SERVICE_CONTROL_STOP, &status) ? 0 : static_cast<int>(GetLastError());
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 30000) {
            SERVICE_STATUS_PROCESS now = {};
            if (!QueryServiceState(service_, &now) || now.dwCurrentState == SERVICE_STOPPED ||
                now.dwCurrentState == SERVICE_RUNNING) {
                break;
            }
            Sleep(20);
        }
    }

    void BusyHeartbeat()
    {
        ASSERT_TRUE(bmc_->AnswerWithCompletionCode(0xC0, 1));
        ASSERT_TRUE(WaitForEntry(MSG_HEARTBEATS_RESUMED, 10000));
    }

    // The Set of the start, still to come after the slow Get, answered busy.
    void RefuseArm()
    {
        ImbSimBehaviour busy = {};
        busy.requestCount = 1;
        busy.fields = IMBSIM_SET_COMPLETION_CODE | IMBSIM_ONLY_COMMAND;
        busy.completionCode = 0xC0;
        busy.command = kArmInstalled[0];
        ASSERT_TRUE(bmc_->SetBehaviour(busy));
        WatchStartUntilSettled();
        WaitStopped();
    }

    void ResetBmc()
    {
        uint32_t before = bmc_->LoggedCount();
        ASSERT_TRUE(bmc_->ColdResetBmc());
        ASSERT_TRUE(WaitForCommand(kArmInstalled, before, 10000));
        ASSERT_TRUE(WaitForCommand(kReset, before + 2, 10000)) << "armed and started again";
    }

    // The service's earlier instance left the timer running; the device has gone since.
    void StartWithoutTheDevice()
    {
        ASSERT_TRUE(ControlSimulatedDriver(false));
        StartEvent();
        WaitStopped();
        ASSERT_TRUE(ControlSimulatedDriver(true));
        bmc_.reset(new SimulatedBmc());
    }

    // setup -u -q, with the built library as the installed one that stops the watchdog when the
    // service's stop may not have. The test bed's driver is a plain kernel service: there is no
    // device node to remove, so the uninstallation ends with "Driver not found!" once it has
    // stopped the service.
    void Uninstall()
    {
        std::string library = ProgramBesideThis("zynvx7w.dll");
        ASSERT_TRUE(CopyFileA(library.c_str(), kInstalledLibrary, FALSE)) << GetLastError();
        RunWithoutHandle(ZYN_TEST_SETUP_EXE, "-u -q");
        DeleteFileA(kInstalledLibrary);
    }

    // The SCM deletes a service only once every handle to it is closed: this test's is closed while
    // the program runs, and opened again when the service is still there.
    void RunWithoutHandle(const char *program, const char *arguments)
    {
        CloseServiceHandle(service_);
        service_ = nullptr;
        RunProgram(program, arguments, 90000);
        service_ = OpenServiceA(manager_, kServiceName, SERVICE_ALL_ACCESS);
    }

    // Runs a program of the build with standard input on NUL; its exit code and output for Judge.
    void RunProgram(const char *program, const char *arguments, DWORD limitMs)
    {
        std::string path = program;
        for (char &c : path) c = c == '/' ? '\\' : c;
        std::string line = "\"" + path + "\" " + arguments;
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0));
        UniqueHandle reader(readEnd), writer(writeEnd);
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        UniqueFileHandle nul(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                         OPEN_EXISTING, 0, nullptr));
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nul.Get();
        startup.hStdOutput = startup.hStdError = writeEnd;
        PROCESS_INFORMATION started = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started))
            << GetLastError();
        UniqueHandle process(started.hProcess), thread(started.hThread);
        writer.Close();
        ReadUntilEnd(reader.Get(), process.Get(), limitMs);
        DWORD code = 0;
        GetExitCodeProcess(process.Get(), &code);
        exitCode_ = static_cast<int>(code);
    }

    void ReadUntilEnd(HANDLE reader, HANDLE process, DWORD limitMs)
    {
        DWORD start = GetTickCount();
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(reader, buffer, sizeof(buffer), &read, nullptr) && read != 0) {
            printed_.append(buffer, read);
            if (GetTickCount() - start > limitMs) break;
        }
        if (WaitForSingleObject(process, limitMs) != WAIT_OBJECT_0) {
            TerminateProcess(process, 1);
            ADD_FAILURE() << "the program did not end in time: " << printed_;
        }
        printed_.erase(std::remove(printed_.begin(), printed_.end(), '\r'), printed_.end());
    }

    bool WaitForEntry(DWORD id, DWORD limitMs)
    {
        DWORD start = GetTickCount();
        for (;;) {
            for (const LoggedEvent &e : EventLogEntriesSince(rowOffset_)) {
                if (e.id == id) return true;
            }
            if (GetTickCount() - start > limitMs) return false;
            Sleep(50);
        }
    }

    void SetText(const char *name, const std::string &text)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_SET_VALUE, &key));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                                                static_cast<DWORD>(text.size() + 1)));
        RegCloseKey(key);
    }

    std::string ServiceFact()
    {
        UniqueServiceHandle service(OpenServiceA(manager_, kServiceName, SERVICE_QUERY_STATUS));
        if (!service.Valid()) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? "absent" : "marked for deletion";
        SERVICE_STATUS_PROCESS status = {};
        if (!QueryServiceState(service.Get(), &status)) return "unknown";
        static const char *const kNames[] = {"?", "stopped", "start pending", "stop pending", "running"};
        std::string name = status.dwCurrentState <= 4 ? kNames[status.dwCurrentState] : "?";
        if (status.dwCurrentState == SERVICE_STOPPED) name += " " + std::to_string(status.dwWin32ExitCode);
        return name;
    }

    int Status()
    {
        testing::internal::CaptureStdout();
        int exitCode = PrintServiceStatus(false);
        statusText_ = testing::internal::GetCapturedStdout();
        return exitCode;
    }

    static void RemoveFolder()
    {
        DeleteFileA(kMarker);
        RemoveDirectoryA(kFolder);
    }

    static constexpr const char *kFolder = "C:\\zynlife";
    static constexpr const char *kMarker = "C:\\zynlife\\marker";
    static constexpr const char *kInstalledLibrary = "C:\\windows\\system32\\zynvx7w.dll";

    State current_ = State::None;
    long long rowOffset_ = 0;
    int exitCode_ = kNoCommand;
    std::string printed_;
    std::string statusText_;
};

const char kRemoved[] = "The DuraRavuviZerovod Service removed.";
const char kWaited[] = "Stopping DuraRavuviZerovod Service.";
const char kUninstallStopped[] = "DuraRavuviZerovod Service stopped.\nDriver not found!";

// clang-format off
const Row kRows[] = {
    {State::NotInstalled, "-remove", &Lifecycle::RemoveIt,
     {"absent", 0, {}, 1, "ASR Service not found - ", 1}, State::NotInstalled},
    {State::NotInstalled, "start", &Lifecycle::StartIt,
     {"absent", 0, {}, ERROR_SERVICE_DOES_NOT_EXIST, "", 1}, State::None},
    {State::Stopped, "-remove", &Lifecycle::RemoveIt,
     {"absent", 0, {}, 0, kRemoved, 1}, State::None},
    // Windows' net start waits while the start is pending and fails when it ends stopped; Wine's
    // returns at the first report, so the SCM's states are judged instead.
    {State::Stopped, "start", &Lifecycle::StartIt,
     {"running", 1, {}, 0, "", 0}, State::Running},
    {State::Running, "BMC busy", &Lifecycle::BusyOnce,
     {"running", 1, {MSG_HEARTBEAT_FAILED, MSG_HEARTBEATS_RESUMED}, kNoCommand, "", 0}, State::Running},
    {State::Running, "BMC reset", &Lifecycle::ColdReset,
     {"running", 1, {MSG_WATCHDOG_SETTINGS_LOST}, kNoCommand, "", 0}, State::Running},
    {State::Running, "stop", &Lifecycle::StopIt,
     {"stopped 0", 0, {}, 0, "", 1}, State::StoppedClean},
    {State::StoppedClean, "-remove", &Lifecycle::RemoveIt,
     {"absent", 0, {}, 0, kRemoved, 1}, State::None},
    {State::Running, "-remove", &Lifecycle::RemoveIt,
     {"absent", 0, {}, 0, kWaited, 1}, State::None},
    {State::Running, "setup uninstall", &Lifecycle::UninstallIt,
     {"stopped 0", 0, {}, 2, kUninstallStopped, 1}, State::None},
    {State::Starting, "stop", &Lifecycle::StopIt,
     {"running", 1, {}, kRefused, "", 0}, State::None},
    {State::Starting, "-remove", &Lifecycle::RemoveIt,
     {"absent", 0, {}, 0, kWaited, 1}, State::None},
    {State::Starting, "BMC busy", &Lifecycle::BusyArm,
     {"stopped 20", 0, {MSG_SERVICE_ERROR}, kNoCommand, "", 1}, State::None},
    {State::RunningAfterFlap, "BMC silent", &Lifecycle::Silent,
     {"running", 1, {MSG_HEARTBEATS_FAILING}, kNoCommand, "", kAny}, State::Retrying},
    {State::Retrying, "BMC answers again", &Lifecycle::AnswersAgain,
     {"running", 1, {MSG_HEARTBEATS_RESUMED_COUNTING}, kNoCommand, "", 0}, State::None},
    {State::RunningInHost, "suspend, a busy answer", &Lifecycle::SuspendBusy,
     {"running", 0, {MSG_SLEEP_WATCHDOG_STOPPED}, kNoCommand, "", 1}, State::Suspended},
    {State::Suspended, "resume", &Lifecycle::ResumeIt,
     {"running", 1, {MSG_RESUME_REARMS_WATCHDOG}, kNoCommand, "", 0}, State::None},
    {State::Suspended, "stop", &Lifecycle::StopIt,
     {"stopped 0", 0, {}, 0, "", 1}, State::None},
    {State::Withholding, "BMC reset", &Lifecycle::ColdReset,
     {"running", 1, {MSG_WITHHELD_WATCHDOG_REARMED}, kNoCommand, "", 3}, State::Withholding},
    {State::Withholding, "suspend and resume", &Lifecycle::SleepAndWake,
     {"running", 1, {MSG_SLEEP_WATCHDOG_STOPPED, MSG_RESUME_REARMS_WATCHDOG}, kNoCommand, "", 3}, State::Withholding},
    {State::Withholding, "-remove", &Lifecycle::RemoveIt,
     {"absent", 0, {}, 0, kWaited, 1}, State::None},
    {State::StoppingAWhile, "setup uninstall", &Lifecycle::UninstallIt,
     {"stopped 0", 0, {}, 2, kUninstallStopped, 1}, State::None},
    {State::StoppingForGood, "-remove", &Lifecycle::RemoveIt,
     {"stopped 1117", 1, {MSG_WATCHDOG_STILL_ARMED}, 1, "The BMC watchdog timer could not be stopped", kAny},
     State::StoppedTimerLeft},
    {State::StoppedTimerLeft, "start without the device", &Lifecycle::StartWithoutDevice,
     {"stopped 1117", kAny, {MSG_SERVICE_ERROR, MSG_WATCHDOG_STILL_ARMED}, 0, "", kAny}, State::StoppedTimerLeft},
    {State::StoppedTimerLeft, "-remove", &Lifecycle::RemoveIt,
     {"absent", 0, {}, 0, kRemoved, 1}, State::None},
    // Windows' SCM marks a killed service stopped with 1067; Wine's goes on showing it running, and
    // refuses it the stop control: either way no clean end, so -remove sends the stop itself.
    {State::Killed, "-remove", &Lifecycle::RemoveIt,
     {"absent", 0, {}, 0, kRemoved, 1}, State::None},
};
// clang-format on

TEST_F(Lifecycle, EveryCellTheTestBedCanBringAbout)
{
    for (const Row &row : kRows) {
        SCOPED_TRACE(std::string(kStateNames[static_cast<int>(row.state)]) + " / " + row.event);
        Walk(row);
    }
}
