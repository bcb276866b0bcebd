#pragma once
// The health checks without Win32 calls, so they also build and are tested natively: their values
// and ranges, the checks a configuration asks for, how a cause reads, and the decisions of an
// episode (first failure, never passed, grace, repair, withholding at most once a day, resuming)
// on a clock the caller gives.
#include <stddef.h>
#include <stdint.h>

const char kHealthCommandValue[] = "HealthCommand";
const char kHealthCommandTimeoutValue[] = "HealthCommandTimeout";
const char kHealthFolderValue[] = "HealthFolder";
const char kHealthServicesValue[] = "HealthServices";
const char kHealthMinAvailableValue[] = "HealthMinAvailableMB";
const char kHealthCheckIntervalValue[] = "HealthCheckInterval";
const char kHealthGracePeriodValue[] = "HealthGracePeriod";
const char kRepairCommandValue[] = "RepairCommand";
// Written by the service: when it last withheld its heartbeats, a FILETIME (UTC) as REG_QWORD.
const char kHealthLastWithheldValue[] = "HealthLastWithheld";

// The registry's type numbers, as RegQueryValueExA gives them.
const uint32_t kTypeSz = 1;
const uint32_t kTypeExpandSz = 2;
const uint32_t kTypeDword = 4;
const uint32_t kTypeMultiSz = 7;
const uint32_t kTypeQword = 11;

const size_t kHealthCommandSize = 2048;  // a command line after expansion, with its zero
const size_t kHealthFolderSize = 248;    // leaves room for the probe file's name within MAX_PATH
const size_t kHealthMaxServices = 16;
const size_t kHealthServiceNameSize = 257;  // the SCM's longest name and its zero
const size_t kHealthMaxChecks = 3 + kHealthMaxServices;
const size_t kHealthLabelSize = 280;     // "HealthServices " and a service name
const size_t kHealthReasonSize = 160;

// A number: a four-byte REG_DWORD in lowest..highest; otherwise fallback is used.
struct HealthNumberRule {
    const char *name;
    uint32_t lowest;
    uint32_t highest;
    uint32_t fallback;
};

extern const HealthNumberRule kHealthCommandTimeoutRule;  // 60 s; 1-3600
extern const HealthNumberRule kHealthCheckIntervalRule;   // 10 s; 1-3600
extern const HealthNumberRule kHealthGracePeriodRule;     // 300 s; 30-86400
extern const HealthNumberRule kHealthMinAvailableRule;    // off (0); 1-16777216 MB

// The health values as the service uses them; an empty text or 0 MB means the check is off.
struct HealthSettings {
    char command[kHealthCommandSize];
    char repairCommand[kHealthCommandSize];
    char folder[kHealthFolderSize];
    char services[kHealthMaxServices][kHealthServiceNameSize];
    uint32_t serviceCount;
    uint32_t minAvailableMB;
    uint32_t commandTimeout;  // seconds
    uint32_t checkInterval;   // seconds
    uint32_t gracePeriod;     // seconds
};

// True with the number to use; false with the fallback and, in reason, why the value is ignored.
bool JudgeHealthNumber(const HealthNumberRule &rule, uint32_t type, uint32_t size, uint32_t number,
                       uint32_t *used, char *reason, size_t reasonSize);

// A command line may be REG_SZ or REG_EXPAND_SZ, a folder REG_SZ only; false with the reason.
bool JudgeHealthTextType(uint32_t type, bool expandable, char *reason, size_t reasonSize);

// A command line whose program path is not in double quotes and runs into a space, as
// "C:\Program Files\x.exe", would run C:\Program.exe first, as LocalSystem: false with the reason.
// A first word that is a bare name ("cmd") or ends in .exe, .com, .bat or .cmd is taken as written.
bool JudgeCommandQuoting(const char *commandLine, char *reason, size_t reasonSize);

// The reason for a text that does not fit: "it is longer than N characters".
void DescribeTooLong(size_t limit, char *reason, size_t reasonSize);

// The names of a REG_MULTI_SZ up to its first empty entry, or the end of data; false with the
// reason when a name is too long or there are more than kHealthMaxServices.
bool SplitHealthServices(const char *data, size_t size, HealthSettings *settings, char *reason, size_t reasonSize);

// "it is not a REG_QWORD of 8 bytes" unless the last withholding's value is one.
bool JudgeLastWithheld(uint32_t type, uint32_t size, char *reason, size_t reasonSize);

enum HealthCheckKind : uint8_t { kCheckCommand, kCheckFolder, kCheckService, kCheckMemory };

struct HealthCheck {
    HealthCheckKind kind;
    uint8_t service;  // for kCheckService: the index of its name
};

// The configured checks in their order: command, folder, each service, memory; gives the count.
size_t ListHealthChecks(const HealthSettings &settings, HealthCheck checks[kHealthMaxChecks]);

// "HealthCommand", "HealthFolder", "HealthServices <name>", "HealthMinAvailableMB".
void HealthCheckLabel(const HealthSettings &settings, const HealthCheck &check, char *label, size_t size);

enum HealthCauseKind : uint8_t {
    kCauseNone,
    kCauseExitCode,        // value: the command's exit code
    kCauseError,           // value: a Win32 error
    kCauseNoAnswer,        // value: the seconds waited
    kCauseServiceState,    // value: the service's state (SERVICE_STOPPED ...)
    kCauseServiceMissing,  // the service is not installed
    kCauseMemory,          // value: MB available, limit: MB required
};

struct HealthCause {
    uint8_t kind;
    uint32_t value;
    uint32_t limit;
};

struct HealthResult {
    bool passed;
    HealthCause cause;  // kCauseNone when passed
};

// "exit code 1", "error 3", "no answer in 60 s", "the service is stopped", "the service is not
// installed", "200 MB of commit available, 512 MB required".
void DescribeHealthCause(const HealthCause &cause, char *text, size_t size);

// The repair's outcome as a clause of an entry: "no RepairCommand is set", "the RepairCommand
// ran and ended with exit code 0", "the RepairCommand could not run: error 2" ...
void DescribeRepair(bool configured, const HealthResult &repair, char *text, size_t size);

// Both clocks of a moment: a monotonic one that stands still while Windows sleeps, for the grace
// and the waits, and the wall clock for what is shown and for the once-a-day rule.
struct HealthClock {
    uint64_t tickMs;
    uint64_t fileTime;  // 100 ns since 1601, UTC
};

const uint64_t kFileTimeDay = 24ull * 3600 * 10000000;

// True when last (0: never) lies less than 24 hours from now, either way.
bool WithinADay(uint64_t last, uint64_t now);

enum HealthCheckState : uint8_t { kCheckNotYet, kCheckPassed, kCheckFailed };

struct HealthCheckRecord {
    uint8_t state;
    bool everPassed;  // since the service started; a check that never passed is never acted upon
    bool reported;    // this run of failures has its entry
    uint64_t sinceTick;
    uint64_t sinceTime;  // FILETIME of the present state
    HealthCause cause;   // of the last failure
};

struct HealthEpisodes {
    size_t checkCount;
    HealthCheckRecord checks[kHealthMaxChecks];
    uint64_t graceMs;
    bool repairConfigured;
    uint64_t lastWithheld;  // FILETIME, 0: never
    bool acted;             // the present episode's grace ended
    size_t actedCheck;
    uint64_t actedSince;    // FILETIME the acted check began to fail
    bool withheld;
    uint64_t withheldSince;
    bool refused;  // the present episode's withholding was refused by the once-a-day rule
};

enum HealthNoteKind { kNoteFailed, kNoteNeverPassed, kNotePassed };

struct HealthNote {
    HealthNoteKind kind;
    size_t check;
    uint64_t failedSince;  // for kNotePassed: FILETIME the failures began
};

enum HealthAction { kActNone, kActRepair, kActMended, kActWithhold, kActRefuse, kActResume };

struct HealthRound {
    HealthNote notes[kHealthMaxChecks];
    size_t noteCount;
    HealthAction action;
    size_t actedCheck;       // for every action but kActNone and kActResume
    uint64_t actedSince;     // FILETIME the acted check began to fail
    uint64_t withheldSince;  // for kActResume
};

void BeginHealthEpisodes(HealthEpisodes *episodes, size_t checkCount, uint32_t graceSeconds, bool repairConfigured,
                         uint64_t lastWithheld);

// Notes one round of results taken at now; afterRepair when the round follows a kActRepair. A
// withholding refused by the once-a-day rule is taken up in the first round a day after the last.
void JudgeHealthRound(HealthEpisodes *episodes, const HealthResult *results, const HealthClock &now, bool afterRepair,
                      HealthRound *round);

// When the next round starts: one interval after this one began, or earlier when a failing
// check's grace ends before that.
uint64_t NextHealthRoundTick(const HealthEpisodes &episodes, uint64_t roundStartTick, uint32_t intervalSeconds);
