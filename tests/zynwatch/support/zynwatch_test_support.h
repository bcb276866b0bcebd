#pragma once
// Helpers of the service's Wine tests: the simulated driver as a service, the SCM, the debug log.
#include <windows.h>

#include "simulated_bmc.h"

#include <cstdint>
#include <string>
#include <vector>

// Requests the service sends as it starts: Get (a previous expiry?), the arm, Get (stored as
// set?), the reset that starts the countdown; the heartbeats follow.
const uint32_t kStartRequests = 4;

// Sets or deletes (value < 0) a DWORD default of the simulated driver, read when it starts.
bool SetSimulatedDriverDefault(const char *name, long long value);

// The service's status as the SCM reports it; false when it cannot be queried.
bool QueryServiceState(SC_HANDLE service, SERVICE_STATUS_PROCESS *status);

// Waits until the service reports state; false after limitMs.
bool WaitForServiceState(SC_HANDLE service, DWORD state, DWORD limitMs);

// Stops (waiting for SERVICE_STOPPED) and deletes the service if it exists, and waits until its key is gone.
bool RemoveServiceIfPresent(const char *name);

// One event log entry as the prefix's debug log shows it: the writing thread, the entry's type
// (EVENTLOG_*_TYPE), its identifier and its insertion strings.
struct LoggedEvent {
    std::string thread;
    unsigned short type;
    unsigned long id;
    std::vector<std::string> strings;
};

// The entries the prefix's processes reported with ReportEventA since offset.
std::vector<LoggedEvent> EventLogEntriesSince(long long offset);

// The insertion strings of those entries, in order.
std::vector<std::string> EventLogStringsSince(long long offset);
long long DebugLogSize();

// Milliseconds between two performance-counter readings.
double CounterMs(long long from, long long to, long long frequency);
long long CounterNow();
long long CounterFrequency();

// The Windows path of a program in this program's own folder.
std::string ProgramBesideThis(const char *name);

// Runs that program with its arguments, its output discarded: its exit code, or -1 when it did not
// start or end within limitMs (it is then ended); elapsedMs, when given, its wall time.
long RunBesideThis(const char *name, const std::string &arguments, DWORD limitMs, double *elapsedMs);

// Writes a value of the service's key; false when the key or the value cannot be written.
bool WriteServiceValue(const char *name, DWORD type, const void *data, DWORD size);
bool WriteServiceDword(const char *name, DWORD value);

// A program started with its standard output into a file of its own, standard input from NUL; ended
// by the destructor if it still runs, its file deleted. (Wine writes a child's debug channels to
// the test's own standard error, so the prefix's log shows the entries of its services alone.)
class ProgramRun {
public:
    explicit ProgramRun(const std::string &commandLine);
    ~ProgramRun();
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    bool Started() const { return process_ != nullptr; }
    // Its exit code, or -1 when it did not end within limitMs.
    long Wait(DWORD limitMs);
    // What it printed, CR LF as LF.
    std::string Output() const;

private:
    HANDLE process_ = nullptr;
    std::string outputPath_;
};

// The path of the zynwatch.exe under test, as Windows writes it.
std::string ZynwatchPath();

// "zynwatch.exe" with its arguments, as the test bed's programs find it.
std::string ZynwatchCommand(const std::string &arguments);

// ZynAsrService for that program, on demand start; null with the SCM's error when it fails.
SC_HANDLE CreateZynwatchService(SC_HANDLE manager);
