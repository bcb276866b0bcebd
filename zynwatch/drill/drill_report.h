#pragma once
// A drill's report as the administrator reads it: a line for each step, the verdict with its
// reason, the facts its JSON form carries, and that JSON line. Plain logic without Win32 calls, so
// it also builds and is tested natively.
#include <stddef.h>
#include <stdint.h>

#include "configuration/service_configuration_rules.h"
#include "drill/drill_rules.h"
#include "sel/sel_messages.h"
#include "watchdog/watchdog_messages.h"

const size_t kDrillMaxLines = 20;
const size_t kDrillLineSize = 200;
const size_t kDrillJsonSize = 1024 + kDrillMaxLines * kDrillLineSize * 2;

enum DrillMode : uint8_t { kDrillThroughService, kDrillAlone };

enum DrillOutcome : uint8_t {
    kDrillUnderWay,
    kDrillPassed,
    kDrillFailed,
    kDrillBmcUnread,   // a request failed: no verdict about the watchdog
    kDrillNotRun,      // refused before it changed anything
    kDrillInterrupted, // ended early by a stop, a cancel, Ctrl+C or sleep
    kDrillNoService    // the service is not installed
};

// What the BMC's SEL showed of the drill.
enum DrillSel : uint8_t { kDrillSelNotChecked, kDrillSelAbsent, kDrillSelUnread, kDrillSelRecorded, kDrillSelNoRecord,
                          kDrillSelFull };

// How the drill left the timer.
enum DrillLeft : uint8_t { kDrillLeftUntouched, kDrillLeftArmed, kDrillLeftStopped, kDrillLeftNotRestored,
                           kDrillLeftToService };

// A fault of the BMC that fails the drill.
enum DrillFault : uint8_t { kFaultPace, kFaultEarlyExpiry, kFaultNoExpiry, kFaultNoFlag, kFaultNoRecord, kFaultSelFull,
                            kFaultChanged, kFaultNotStarted };

struct DrillReport {
    DrillMode mode;
    uint16_t seconds;
    DrillOutcome outcome;
    char reason[kDrillLineSize];
    char lines[kDrillMaxLines][kDrillLineSize];
    size_t lineCount;
    bool paceJudged;
    DrillPace pace;
    bool expired;
    uint32_t expiredAfterMs;
    DrillSel sel;
    bool selWasFull;  // at the start: the BMC could record no expiry
    SelRecord record;
    DrillLeft left;
};

// The first line: what the drill does, and with the service whether the heartbeats pause.
void BeginDrillReport(DrillReport *report, DrillMode mode, uint16_t seconds);

void NoteTimerFound(DrillReport *report, const WatchdogReading &found);
void NoteSelFound(DrillReport *report, const SelInfo &info);
// The BMC answered Get SEL Info otherwise: without a SEL (0xC1) or not at all.
void NoteSelNotFound(DrillReport *report, const WatchdogOutcome &outcome);
void NoteDrillArmed(DrillReport *report);
void NoteDrillReading(DrillReport *report, uint64_t elapsedMs, const WatchdogReading &reading);
void NoteDrillPace(DrillReport *report, const DrillPace &pace);
void NoteDrillExpired(DrillReport *report, uint64_t elapsedMs);
// The Watchdog 2 record of the drill's expiry; nullptr when none was added.
void NoteSelRecord(DrillReport *report, const SelRecord *record);
void NoteSelRecordUnread(DrillReport *report, const WatchdogOutcome &outcome);
// How the timer was left; settings are the service's for kDrillLeftArmed, outcome the failed request's.
void NoteTimerLeft(DrillReport *report, DrillLeft left, const WatchdogSettings &settings, const WatchdogOutcome &outcome);

// The verdict, as the report's reason and last line.
void EndDrillPassed(DrillReport *report);
// value: the seconds or the last reading's countdown the fault is about.
void EndDrillFailed(DrillReport *report, DrillFault fault, uint64_t valueMs);
void EndDrillUnread(DrillReport *report, const WatchdogOutcome &outcome);
void EndDrillNotRun(DrillReport *report, const char *why);
void EndDrillInterrupted(DrillReport *report, const char *why);
void EndDrillNoService(DrillReport *report);

DrillExitCode DrillExitCodeOf(DrillOutcome outcome);

// The report as one JSON object on one line; false when it does not fit.
bool BuildDrillJson(const DrillReport &report, char *text, size_t size);

// The sentences of the event log entry: what the drill found, and how it left the timer.
const char *DrillLeftSentence(const DrillReport &report);
