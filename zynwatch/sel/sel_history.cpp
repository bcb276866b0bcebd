#include "sel/sel_history.h"

#include <windows.h>

#include "sel/sel_requests.h"

// A BMC that numbers its records otherwise than one apart is read from the first on; the newest
// of them are kept for the search.
const size_t kForwardKept = 512;

static bool Expired(ULONGLONG deadline)
{
    return GetTickCount64() >= deadline;
}

enum StepBack { kSteppedBack, kNotOneApart, kStepFailed };

// The record before newer, when the BMC numbers its records one apart.
static StepBack ReadOneBefore(const SelSession &session, uint16_t newer, SelRecord *record, WatchdogOutcome *outcome)
{
    uint16_t next = 0;
    if (ReadSelRecord(session, static_cast<uint16_t>(newer - 1), &next, record, outcome)) {
        return next == newer && record->id != kSelFirstRecordId ? kSteppedBack : kNotOneApart;
    }
    bool absent = outcome->error == 0 && outcome->completionCode == kCompletionCodeNotPresent;
    return absent ? kNotOneApart : kStepFailed;
}

// From the last record back; false when the records are not numbered one apart.
static bool ReadBackward(const SelSession &session, ULONGLONG deadline, SelFacts *facts)
{
    uint16_t next = 0;
    SelRecord record;
    if (!ReadSelRecord(session, kSelFirstRecordId, &next, &record, &facts->outcome)) return true;
    uint16_t firstId = record.id;
    if (!ReadSelRecord(session, kSelLastRecordId, &next, &record, &facts->outcome)) return true;
    facts->newestRead = true;
    for (;;) {
        if (NoteOlderSelRecord(&facts->history, record)) return true;
        if (record.id == firstId) {
            facts->reachedStart = true;
            return true;
        }
        if (Expired(deadline)) return true;
        StepBack step = ReadOneBefore(session, record.id, &record, &facts->outcome);
        if (step == kNotOneApart) return false;
        if (step == kStepFailed) return true;
    }
}

// From the first record on, following each answer's next ID; the newest kForwardKept records read
// are searched, newest first.
static void ReadForward(const SelSession &session, ULONGLONG deadline, SelFacts *facts)
{
    static SelRecord kept[kForwardKept];
    size_t count = 0;
    uint16_t id = kSelFirstRecordId, next = 0;
    while (!Expired(deadline) && ReadSelRecord(session, id, &next, &kept[count % kForwardKept], &facts->outcome)) {
        ++count;
        if (next == kSelLastRecordId) {
            facts->newestRead = true;
            facts->reachedStart = count <= kForwardKept;
            break;
        }
        id = next;
    }
    BeginSelHistory(&facts->history);
    size_t oldest = count > kForwardKept ? count - kForwardKept : 0;
    for (size_t index = count; index > oldest; --index) {
        if (NoteOlderSelRecord(&facts->history, kept[(index - 1) % kForwardKept])) break;
    }
}

void GatherSelFacts(SelFacts *facts)
{
    *facts = {};
    facts->attempted = true;
    BeginSelHistory(&facts->history);
    SelSession session;
    if (!ReadSelInfo(session, &facts->info, &facts->outcome)) return;
    facts->read = true;
    if (facts->info.entries == 0) {
        facts->newestRead = facts->reachedStart = true;
        return;
    }
    ULONGLONG deadline = GetTickCount64() + kSelReadLimitMs;
    if (!ReadBackward(session, deadline, facts)) {
        facts->newestRead = facts->reachedStart = false;
        ReadForward(session, deadline, facts);
    }
}
