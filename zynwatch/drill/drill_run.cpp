#include "drill/drill_run.h"

#include "sel/sel_requests.h"
#include "sel/sel_rules.h"
#include "watchdog/watchdog.h"

// The records after the one that was last before the drill, among which its expiry's must be.
const uint32_t kNewRecordsSearched = 16;
const uint32_t kExpiryMarginMs = 300;  // past the predicted end, before the first look

enum DrillEnding { kEndPassed, kEndFault, kEndUnread, kEndInterrupted };

struct DrillRun {
    const DrillHost *host;
    DrillReport *report;
    uint16_t seconds;
    uint64_t startMs;  // the middle of the Reset that started the countdown
    DrillSample first;
    DrillSample last;
    bool selPresent;
    bool selHadRecords;
    uint16_t selLastId;  // the last record before the drill
    DrillEnding ending;
    DrillFault fault;
    uint64_t faultMs;
    WatchdogOutcome failed;
    int interrupt;
};

static uint64_t SteadyMs()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(now.QuadPart) * 1000 / static_cast<uint64_t>(frequency.QuadPart);
}

static void Progress(const DrillRun &run)
{
    if (run.host->progress != nullptr) run.host->progress(run.host->context, *run.report);
}

// Waits until the steady clock reaches dueMs; false, with the interrupt noted, when one came first.
static bool WaitUntil(DrillRun *run, uint64_t dueMs)
{
    uint64_t now = SteadyMs();
    DWORD wait = dueMs > now ? static_cast<DWORD>(dueMs - now) : 0;
    const DrillHost &host = *run->host;
    if (host.interruptCount == 0) {
        Sleep(wait);
        return true;
    }
    DWORD result = WaitForMultipleObjects(host.interruptCount, host.interrupts, FALSE, wait);
    if (result >= WAIT_OBJECT_0 + host.interruptCount) return true;
    run->interrupt = static_cast<int>(result - WAIT_OBJECT_0);
    run->ending = kEndInterrupted;
    return false;
}

// Get Watchdog Timer with the moments of its request and answer; a failure ends the drill unread.
static bool Sample(DrillRun *run, WatchdogReading *reading, DrillSample *sample)
{
    sample->sentMs = SteadyMs();
    bool read = ReadWatchdogTimer(reading, &run->failed);
    sample->answeredMs = SteadyMs();
    sample->counts = reading->presentCountdown;
    if (!read) run->ending = kEndUnread;
    return read;
}

static void Fail(DrillRun *run, DrillFault fault, uint64_t valueMs)
{
    run->ending = kEndFault;
    run->fault = fault;
    run->faultMs = valueMs;
}

// The SEL before the drill: whether the BMC has one, and its last record.
static void FindSel(DrillRun *run)
{
    SelSession session;
    SelInfo info;
    WatchdogOutcome outcome = {};
    if (!ReadSelInfo(session, &info, &outcome)) {
        NoteSelNotFound(run->report, outcome);
        return;
    }
    NoteSelFound(run->report, info);
    run->selPresent = true;
    uint16_t next = 0;
    SelRecord last;
    run->selHadRecords = info.entries != 0 && ReadSelRecord(session, kSelLastRecordId, &next, &last, &outcome);
    run->selLastId = run->selHadRecords ? last.id : 0;
}

// The timer as found and the SEL; false, with the verdict, when the drill cannot go on.
static bool Prepare(DrillRun *run)
{
    WatchdogReading found;
    DrillSample sample;
    if (!Sample(run, &found, &sample)) {
        EndDrillUnread(run->report, run->failed);
        return false;
    }
    NoteTimerFound(run->report, found);
    if (run->host->mode == kDrillAlone && ReadingRunning(found)) {
        EndDrillNotRun(run->report, "the BMC's timer runs although the service is stopped: another program uses it, or "
                                    "the service's stop failed (see zynwatch -status)");
        return false;
    }
    FindSel(run);
    Progress(*run);
    return true;
}

static bool ArmAndStart(DrillRun *run)
{
    DrillSample start;
    if (!ArmDrillWatchdog(run->seconds, &run->failed)) {
        run->ending = kEndUnread;
        return false;
    }
    start.sentMs = SteadyMs();
    bool started = ResetWatchdog(&run->failed);
    start.answeredMs = SteadyMs();
    if (!started) {
        run->ending = kEndUnread;
        return false;
    }
    run->startMs = (start.sentMs + start.answeredMs) / 2;
    NoteDrillArmed(run->report);
    Progress(*run);
    return true;
}

// One reading of the countdown; false when the drill ends with it.
static bool ReadCountdown(DrillRun *run, uint32_t index)
{
    WatchdogReading reading;
    DrillSample sample;
    if (!WaitUntil(run, run->startMs + DrillReadingDueMs(run->seconds, index))) return false;
    if (!Sample(run, &reading, &sample)) return false;
    uint64_t elapsed = sample.answeredMs - run->startMs;
    if (!ReadingIsTheDrills(reading, run->seconds)) {
        Fail(run, kFaultChanged, 0);
        return false;
    }
    NoteDrillReading(run->report, elapsed, reading);
    Progress(*run);
    if (!ReadingRunning(reading)) {
        Fail(run, ReadingExpired(reading) ? kFaultEarlyExpiry : kFaultNotStarted, elapsed);
        return false;
    }
    if (index == 0) run->first = sample;
    run->last = sample;
    return true;
}

static bool JudgePace(DrillRun *run)
{
    DrillPace pace = JudgeDrillPace(run->first, run->last);
    NoteDrillPace(run->report, pace);
    Progress(*run);
    if (!pace.within) Fail(run, kFaultPace, 0);
    return pace.within;
}

// Looks when the last reading says the countdown runs out, then every half second until the
// deadline; false when the drill ends otherwise.
static bool AwaitExpiry(DrillRun *run)
{
    uint64_t deadline = run->startMs + DrillExpiryDeadlineMs(run->seconds);
    uint64_t due = run->last.answeredMs + run->last.counts * 100u + kExpiryMarginMs;
    for (;;) {
        WatchdogReading reading;
        DrillSample sample;
        if (!WaitUntil(run, due < deadline ? due : deadline) || !Sample(run, &reading, &sample)) return false;
        uint64_t elapsed = sample.answeredMs - run->startMs;
        if (!ReadingIsTheDrills(reading, run->seconds)) {
            Fail(run, kFaultChanged, 0);
            return false;
        }
        if (ReadingExpired(reading)) {
            NoteDrillExpired(run->report, elapsed);
            Progress(*run);
            return true;
        }
        if (!ReadingRunning(reading)) {
            Fail(run, kFaultNoFlag, elapsed);
            return false;
        }
        if (sample.answeredMs >= deadline) {
            Fail(run, kFaultNoExpiry, elapsed);
            return false;
        }
        due = sample.answeredMs + kDrillExpiryPollMs;
    }
}

// The records added since the drill began, oldest first, following each answer's next ID; false
// when the SEL could not be read.
static bool FindExpiryRecord(DrillRun *run, bool *found, SelRecord *record)
{
    SelSession session;
    uint16_t next = 0;
    uint16_t id = run->selHadRecords ? run->selLastId : kSelFirstRecordId;
    *found = false;
    if (!ReadSelRecord(session, id, &next, record, &run->failed)) return false;
    bool isNew = !run->selHadRecords;
    for (uint32_t searched = 0; searched < kNewRecordsSearched; ++searched) {
        if (isNew && IsDrillExpiry(*record)) {
            *found = true;
            return true;
        }
        if (next == kSelLastRecordId) return true;
        if (!ReadSelRecord(session, next, &next, record, &run->failed)) return false;
        isNew = true;
    }
    return true;
}

static bool CheckRecord(DrillRun *run)
{
    if (!run->selPresent) return true;
    bool found = false;
    SelRecord record;
    if (!FindExpiryRecord(run, &found, &record)) {
        NoteSelRecordUnread(run->report, run->failed);
        run->ending = kEndUnread;
        return false;
    }
    NoteSelRecord(run->report, found ? &record : nullptr);
    if (!found) Fail(run, run->report->selWasFull ? kFaultSelFull : kFaultNoRecord, 0);
    return found;
}

static void Conduct(DrillRun *run)
{
    if (!ArmAndStart(run)) return;
    for (uint32_t index = 0; index < kDrillReadings; ++index) {
        if (!ReadCountdown(run, index)) return;
    }
    if (!JudgePace(run) || !AwaitExpiry(run) || !CheckRecord(run)) return;
    run->ending = kEndPassed;
}

static void Conclude(DrillRun *run)
{
    DrillReport *report = run->report;
    switch (run->ending) {
    case kEndPassed:
        EndDrillPassed(report);
        break;
    case kEndFault:
        EndDrillFailed(report, run->fault, run->faultMs);
        break;
    case kEndUnread:
        EndDrillUnread(report, run->failed);
        break;
    default:
        EndDrillInterrupted(report, run->host->interruptReasons[run->interrupt]);
        break;
    }
}

int RunDrill(const DrillHost &host, uint16_t seconds, DrillReport *report)
{
    DrillRun run = {};
    run.host = &host;
    run.report = report;
    run.seconds = seconds;
    run.interrupt = -1;
    BeginDrillReport(report, host.mode, seconds);
    if (Prepare(&run)) {
        Conduct(&run);
        WatchdogOutcome outcome = {};
        DrillLeft left = host.restore(host.context, &outcome);
        NoteTimerLeft(report, left, host.settings, outcome);
        Conclude(&run);
    }
    Progress(run);
    return run.interrupt;
}
