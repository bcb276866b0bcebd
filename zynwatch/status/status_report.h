#pragma once
// The report of "zynwatch -status" as "Label: value" lines, its verdict and exit code. Plain logic
// without Win32 calls, so it also builds and is tested natively.
#include <stddef.h>
#include <stdint.h>

#include "configuration/service_configuration_rules.h"
#include "health/health_records.h"
#include "sel/sel_rules.h"
#include "status/report_lines.h"
#include "status/settings_lines.h"
#include "watchdog/watchdog_messages.h"

// The SCM's numbers as QueryServiceStatusEx and OpenServiceA give them.
const uint32_t kServiceStateStopped = 1;
const uint32_t kServiceStateRunning = 4;
const uint32_t kServiceSpecificExitCode = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR
const uint32_t kServiceNotInstalledError = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST

// The service as the SCM sees it; error 0: read, 1060: not installed, other: the SCM's refusal.
struct ServiceFacts {
    uint32_t error;
    uint32_t state;
    uint32_t exitCode;
    uint32_t specificExitCode;
    uint32_t startType;
};

// The configuration the running service uses, as it published it; otherwise as it would use the
// registry's now. Read without repairing anything.
struct ConfigurationFacts {
    WatchdogSettings settings;
    uint32_t heartbeatInterval;  // "HeartbeatInterval" as configured
    bool heartbeatRead;          // false when it could not be read
    uint16_t shutdownTimeout;    // seconds, 0 when the shutdown phase is off
    SettingsFacts sources;
};

// What the running service published of its heartbeats, and when it last found the watchdog expired.
struct HeartbeatFacts {
    bool published;
    uint32_t failures;        // since the service started
    uint32_t failuresInARow;  // now
    uint64_t expiryFound;     // FILETIME (UTC); 0: never
    CivilTime expiryFoundAt;  // the same in local time
};

// Get Watchdog Timer: read is ReadWatchdogTimer's result, reading valid only when it is true.
struct BmcFacts {
    bool read;
    WatchdogReading reading;
    WatchdogOutcome outcome;
};

struct StatusFacts {
    ServiceFacts service;
    ConfigurationFacts configuration;
    BmcFacts bmc;
    HealthFacts health;
    HeartbeatFacts heartbeats;
    SelFacts sel;  // the BMC's log; not attempted when the BMC did not answer
};

// Seconds beyond the interval in use that a countdown may have run down before the heartbeats
// count as not arriving: one request's time-out and its answer, with room.
const uint32_t kMissedHeartbeatMarginSeconds = 10;

// True when the BMC's timer guards the OS and its countdown ran down further than the interval in
// use and the margin since its last start: the heartbeats are not reaching it.
bool HeartbeatsMissing(const StatusFacts &facts);

// 3 while the service withholds its heartbeats or they are missing, 2 when the BMC could not be
// read, 0 when the service and the BMC's SMS/OS timer run, else 1.
StatusExitCode DecideStatusExitCode(const StatusFacts &facts);

// The heartbeat interval the service uses with this configuration.
uint32_t StatusIntervalInUse(const ConfigurationFacts &configuration);

// True when the service is installed and running.
bool StatusServiceRuns(const ServiceFacts &service);

// True when the BMC's timer runs for the OS and takes an action when it expires.
bool StatusTimerGuards(const BmcFacts &bmc);

// "running", "stop pending" ...; null for a number the SCM does not define.
const char *ServiceStateName(uint32_t state);

// "automatic", "manual" ...; null for a number the SCM does not define.
const char *StartTypeName(uint32_t startType);

// Why the BMC was not read: "error 55 (no BMC device)", "completion code 0xC1", "short answer ...".
void DescribeUnreadBmc(const BmcFacts &bmc, char *text, size_t size);

// "yes"; "unknown" when only the BMC's silence stands in the way; otherwise "no", each with its reasons.
enum ProtectionVerdict { kVerdictYes, kVerdictNo, kVerdictUnknown };

const size_t kStatusMaxReasons = 3;  // one about the service, one about its health checks, one about the BMC
const size_t kStatusReasonSize = 96;

struct StatusVerdict {
    ProtectionVerdict verdict;
    size_t reasonCount;
    char reasons[kStatusMaxReasons][kStatusReasonSize];
};

void DecideStatusVerdict(const StatusFacts &facts, StatusVerdict *verdict);

const char *VerdictName(ProtectionVerdict verdict);

void BuildStatusReport(const StatusFacts &facts, StatusReport *report);
