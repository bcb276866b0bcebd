#pragma once
// What the BMC's System Event Log tells this system: which records are watchdog expiries and the
// operating system's boots and shutdowns, the search of -status for the last expiry (read from the
// log's end), the BMC's timestamps as dates, and the "SelEvents" value. Plain logic without Win32
// calls, so it also builds and is tested natively.
#include <stddef.h>
#include <stdint.h>

#include "sel/sel_messages.h"
#include "watchdog/watchdog_messages.h"

// "SelEvents": REG_DWORD 1 (as absent) has the service write the operating system's boot and
// shutdown into the BMC's log; 0 turns that off.
const char kSelEventsValue[] = "SelEvents";

// True with the setting; false, with on and in reason why the value is ignored, for anything but a
// four-byte REG_DWORD of 0 or 1. type is the registry's type number.
bool JudgeSelEvents(uint32_t type, uint32_t size, uint32_t number, bool *on, char *reason, size_t reasonSize);

enum SelRecordKind { kSelOtherRecord, kSelWatchdogExpiry, kSelOsBoot, kSelOsShutdown };

// A Watchdog 2 expiry (sensor type 23h, offsets 00h-03h), a boot completed (OS Boot 1Fh, offsets
// 00h-06h), or a graceful stop or shutdown (OS Stop / Shutdown 20h, offsets 02h-03h), from
// whichever generator; assertions of system event records only.
SelRecordKind ClassifySelRecord(const SelRecord &record);

// The action a Watchdog 2 expiry record says was taken: 0 none, 1 hard reset, 2 power down, 3 power cycle.
uint8_t SelExpiryAction(const SelRecord &record);

// The timer use at expiry from its event data 2; 0Fh when the BMC leaves it unspecified.
uint8_t SelExpiryTimerUse(const SelRecord &record);

// The expiry of a drill: no action taken, for SMS/OS or an unspecified use.
bool IsDrillExpiry(const SelRecord &record);

enum ShutdownBefore : uint8_t { kShutdownBeforeUnknown, kShutdownBeforeYes, kShutdownBeforeNo };

// The search for the last watchdog expiry, fed the log's records from the newest back: once the
// expiry is found, the nearest older boot or graceful shutdown tells whether Windows shut down
// before it (a shutdown or restart that took too long) or hung (it booted and never shut down).
struct SelHistory {
    uint32_t recordsRead;
    bool expiryFound;
    SelRecord expiry;
    ShutdownBefore shutdownBefore;
    bool decided;  // no older record can change the answer
};

void BeginSelHistory(SelHistory *history);

// Notes the next older record; true once the search is decided.
bool NoteOlderSelRecord(SelHistory *history, const SelRecord &record);

// Timestamps up to this count seconds since the BMC started, before its clock was set.
const uint32_t kSelPreInitLimit = 0x20000000;

// "2026-12-09 05:52:17" (seconds since 1970 on the BMC's clock), or "1234 s after the BMC started".
void FormatSelTime(uint32_t timestamp, char *text, size_t size);

// "2026-12-09T05:52:17", or false for a timestamp before the BMC's clock was set.
bool FormatSelTimeIso(uint32_t timestamp, char *text, size_t size);

// What -status learnt from the log: attempted is false when the BMC did not answer at all, so its
// log was not asked; read when Get SEL Info was answered in full.
struct SelFacts {
    bool attempted;
    bool read;
    WatchdogOutcome outcome;  // of the request that failed
    SelInfo info;
    SelHistory history;
    bool newestRead;    // the search began with the last record
    bool reachedStart;  // and went back to the first one
};

// The BMC answered that it has no SEL.
bool SelAbsent(const SelFacts &facts);
