#include "drill/drill_report.h"

#include <stdarg.h>
#include <stdio.h>

#include "sel/sel_rules.h"
#include "text_buffer.h"
#include "watchdog/watchdog_names.h"

const uint32_t kDeviceAbsentError = 55;  // ERROR_DEV_NOT_EXIST: no "\\.\imb"
const size_t kPieceSize = 32;

static void AddLine(DrillReport *report, const char *format, ...) __attribute__((format(printf, 2, 3)));

static void AddLine(DrillReport *report, const char *format, ...)
{
    if (report->lineCount >= kDrillMaxLines) return;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(report->lines[report->lineCount++], kDrillLineSize, format, arguments);
    va_end(arguments);
}

// Milliseconds as seconds with one decimal: "20.2 s".
static void Seconds(uint64_t ms, char text[kPieceSize])
{
    snprintf(text, kPieceSize, "%lu.%lu s", static_cast<unsigned long>(ms / 1000),
             static_cast<unsigned long>(ms % 1000 / 100));
}

// "error 55 (no BMC device)", "error 258 (no answer in time)", "completion code 0xC1".
static void Cause(const WatchdogOutcome &outcome, char *text, size_t size)
{
    char described[48];
    DescribeOutcome(outcome, described, sizeof(described));
    snprintf(text, size, "%s%s", described, outcome.error == kDeviceAbsentError ? " (no BMC device)" : "");
}

void BeginDrillReport(DrillReport *report, DrillMode mode, uint16_t seconds)
{
    *report = {};
    report->mode = mode;
    report->seconds = seconds;
    if (mode == kDrillThroughService) {
        AddLine(report, "Drill of the BMC's watchdog through the service: a %u s countdown with no action, and no "
                        "heartbeat until it expires", static_cast<unsigned>(seconds));
    } else {
        AddLine(report, "Drill of the BMC's watchdog: a %u s countdown with no action; the service is stopped",
                static_cast<unsigned>(seconds));
    }
}

void NoteTimerFound(DrillReport *report, const WatchdogReading &found)
{
    char initial[kPieceSize];
    FormatCountdown(found.initialCountdown, initial, sizeof(initial));
    AddLine(report, "Found: the BMC's timer %s for %s, %s, %s", ReadingRunning(found) ? "runs" : "is stopped",
            TimerUseName(ReadingTimerUse(found)), TimeoutActionName(ReadingTimeoutAction(found)), initial);
}

void NoteSelFound(DrillReport *report, const SelInfo &info)
{
    report->selWasFull = SelFull(info);
    unsigned entries = info.entries, room = info.freeBytes / kSelRecordSize;
    if (report->selWasFull) {
        AddLine(report, "The BMC's SEL: %u record%s, full: it cannot record the expiry", entries,
                entries == 1 ? "" : "s");
    } else {
        AddLine(report, "The BMC's SEL: %u record%s, room for %u%s more", entries, entries == 1 ? "" : "s",
                room, info.freeBytes == 0xFFFF ? " or" : "");
    }
}

void NoteSelNotFound(DrillReport *report, const WatchdogOutcome &outcome)
{
    char cause[64];
    Cause(outcome, cause, sizeof(cause));
    bool absent = outcome.error == 0 && outcome.completionCode == kCompletionCodeNoSel;
    report->sel = absent ? kDrillSelAbsent : kDrillSelUnread;
    AddLine(report, "The BMC %s (%s): the drill checks the timer alone", absent ? "has no SEL" : "did not tell its SEL",
            cause);
}

void NoteDrillArmed(DrillReport *report)
{
    AddLine(report, "Armed the timer for SMS/OS with no action and %u.0 s, and started it",
            static_cast<unsigned>(report->seconds));
}

void NoteDrillReading(DrillReport *report, uint64_t elapsedMs, const WatchdogReading &reading)
{
    char after[kPieceSize], left[kPieceSize];
    Seconds(elapsedMs, after);
    FormatCountdown(reading.presentCountdown, left, sizeof(left));
    if (ReadingRunning(reading)) {
        AddLine(report, "After %s: %s left", after, left);
    } else {
        AddLine(report, "After %s: the timer has stopped", after);
    }
}

void NoteDrillPace(DrillReport *report, const DrillPace &pace)
{
    char fall[kPieceSize], elapsed[kPieceSize];
    Seconds(pace.fallMs, fall);
    Seconds(pace.elapsedMs, elapsed);
    report->paceJudged = true;
    report->pace = pace;
    AddLine(report, "The countdown fell %s in %s: %u %% of the real pace", fall, elapsed,
            static_cast<unsigned>((pace.perMille + 5) / 10));
}

void NoteDrillExpired(DrillReport *report, uint64_t elapsedMs)
{
    char after[kPieceSize];
    Seconds(elapsedMs, after);
    report->expired = true;
    report->expiredAfterMs = static_cast<uint32_t>(elapsedMs);
    AddLine(report, "After %s: the timer expired: it stopped, and the SMS/OS expiration flag is set", after);
}

void NoteSelRecord(DrillReport *report, const SelRecord *record)
{
    if (record == nullptr) {
        report->sel = report->selWasFull ? kDrillSelFull : kDrillSelNoRecord;
        AddLine(report, "The BMC's SEL: no Watchdog 2 record of the expiry was added");
        return;
    }
    char when[kPieceSize];
    FormatSelTime(record->timestamp, when, sizeof(when));
    report->sel = kDrillSelRecorded;
    report->record = *record;
    AddLine(report, "The BMC's SEL: record %u, Watchdog 2 timer expired for SMS/OS, at %s",
            static_cast<unsigned>(record->id), when);
}

void NoteSelRecordUnread(DrillReport *report, const WatchdogOutcome &outcome)
{
    char cause[64];
    Cause(outcome, cause, sizeof(cause));
    report->sel = kDrillSelUnread;
    AddLine(report, "The BMC's SEL could not be read after the expiry: %s", cause);
}

void NoteTimerLeft(DrillReport *report, DrillLeft left, const WatchdogSettings &settings, const WatchdogOutcome &outcome)
{
    char cause[64];
    Cause(outcome, cause, sizeof(cause));
    report->left = left;
    if (left == kDrillLeftArmed) {
        AddLine(report, "Armed the timer again as configured: %s, %u s; the heartbeats resume",
                TimeoutActionName(settings.timeoutAction), static_cast<unsigned>(settings.timeoutValue));
    } else if (left == kDrillLeftStopped) {
        AddLine(report, "Stopped the timer, as it was found");
    } else if (left == kDrillLeftToService) {
        AddLine(report, "Left the timer to the service, which started during the drill");
    } else if (left == kDrillLeftNotRestored && report->mode == kDrillThroughService) {
        AddLine(report, "The timer could not be armed again: %s; the service tries again with each heartbeat", cause);
    } else if (left == kDrillLeftNotRestored) {
        AddLine(report, "The timer could not be stopped: %s; it may run the drill's countdown, with no action", cause);
    }
}

static void End(DrillReport *report, DrillOutcome outcome, const char *label)
{
    report->outcome = outcome;
    AddLine(report, "Drill: %s - %s", label, report->reason);
}

void EndDrillPassed(DrillReport *report)
{
    char after[kPieceSize];
    Seconds(report->expiredAfterMs, after);
    const char *sel = report->sel == kDrillSelRecorded ? ", and records the expiry in its SEL"
                      : report->sel == kDrillSelAbsent ? "; it has no SEL"
                                                       : "; its SEL could not be checked";
    snprintf(report->reason, sizeof(report->reason),
             "this BMC's watchdog counts at %u %% of the real pace and expires after %s%s",
             static_cast<unsigned>((report->pace.perMille + 5) / 10), after, sel);
    End(report, kDrillPassed, "passed");
}

void EndDrillFailed(DrillReport *report, DrillFault fault, uint64_t valueMs)
{
    char a[kPieceSize], b[kPieceSize];
    char *reason = report->reason;
    size_t size = sizeof(report->reason);
    Seconds(report->pace.fallMs, a);
    Seconds(report->pace.elapsedMs, b);
    switch (fault) {
    case kFaultPace:
        snprintf(reason, size, "the countdown fell %s in %s: %u %% of the real pace, more than 10 %% off", a, b,
                 static_cast<unsigned>((report->pace.perMille + 5) / 10));
        break;
    case kFaultEarlyExpiry:
        Seconds(valueMs, a);
        snprintf(reason, size, "the timer expired after %s of a %u s countdown", a, static_cast<unsigned>(report->seconds));
        break;
    case kFaultNoExpiry:
        Seconds(valueMs, a);
        snprintf(reason, size, "%s after the start of a %u s countdown the timer has not expired: it still runs", a,
                 static_cast<unsigned>(report->seconds));
        break;
    case kFaultNoFlag:
        snprintf(reason, size, "the timer stopped, but the BMC did not set the SMS/OS expiration flag");
        break;
    case kFaultNoRecord:
        snprintf(reason, size, "the timer expired, but the BMC added no Watchdog 2 record to its SEL");
        break;
    case kFaultSelFull:
        snprintf(reason, size, "the timer expired, but the BMC's SEL is full: it records no expiry until it is cleared");
        break;
    case kFaultNotStarted:
        snprintf(reason, size, "the timer does not run although Reset Watchdog Timer started it: the BMC's watchdog "
                               "may be turned off in its setup");
        break;
    default:
        snprintf(reason, size, "another program changed the BMC's timer during the drill");
        break;
    }
    End(report, kDrillFailed, "failed");
}

void EndDrillUnread(DrillReport *report, const WatchdogOutcome &outcome)
{
    char cause[64];
    Cause(outcome, cause, sizeof(cause));
    snprintf(report->reason, sizeof(report->reason), "the BMC did not answer: %s", cause);
    End(report, kDrillBmcUnread, "BMC not read");
}

void EndDrillNotRun(DrillReport *report, const char *why)
{
    snprintf(report->reason, sizeof(report->reason), "%s", why);
    End(report, kDrillNotRun, "not run");
}

void EndDrillInterrupted(DrillReport *report, const char *why)
{
    snprintf(report->reason, sizeof(report->reason), "%s", why);
    End(report, kDrillInterrupted, "interrupted");
}

void EndDrillNoService(DrillReport *report)
{
    snprintf(report->reason, sizeof(report->reason), "the service ZynAsrService is not installed");
    End(report, kDrillNoService, "not run");
}

DrillExitCode DrillExitCodeOf(DrillOutcome outcome)
{
    switch (outcome) {
    case kDrillNoService:
        return kDrillExitNotInstalled;
    case kDrillPassed:
        return kDrillExitPassed;
    case kDrillFailed:
        return kDrillExitFailed;
    case kDrillBmcUnread:
        return kDrillExitBmcUnread;
    default:
        return kDrillExitNotRun;
    }
}

const char *DrillLeftSentence(const DrillReport &report)
{
    switch (report.left) {
    case kDrillLeftArmed:
        return "Afterwards the service armed the watchdog again as configured";
    case kDrillLeftStopped:
        return "Afterwards the timer was stopped, as it was found";
    case kDrillLeftToService:
        return "The service started during the drill and armed the timer itself";
    case kDrillLeftNotRestored:
        return report.mode == kDrillThroughService
                   ? "Afterwards the watchdog could not be armed again; the service tries again with each heartbeat"
                   : "Afterwards the timer could not be stopped; it may run the drill's countdown, with no action";
    default:
        return "The timer was left as it was found";
    }
}

static void PutString(TextBuffer *json, const char *text)
{
    AppendText(json, "\"");
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c == '"' || *c == '\\') {
            AppendText(json, "\\%c", *c);
        } else if (static_cast<unsigned char>(*c) < 0x20 || static_cast<unsigned char>(*c) >= 0x7F) {
            AppendText(json, "\\u%04X", static_cast<unsigned>(static_cast<unsigned char>(*c)));
        } else {
            AppendText(json, "%c", *c);
        }
    }
    AppendText(json, "\"");
}

static const char *OutcomeName(DrillOutcome outcome)
{
    static const char *const kNames[] = {"underWay",   "passed",      "failed",
                                         "bmcNotRead", "notRun",      "interrupted", "serviceNotInstalled"};
    return kNames[outcome];
}

static const char *SelName(DrillSel sel)
{
    static const char *const kNames[] = {nullptr, "absent", "notRead", "recorded", "noRecord", "full"};
    return kNames[sel];
}

static const char *LeftName(DrillLeft left)
{
    static const char *const kNames[] = {"untouched", "armed", "stopped", "notRestored", "toService"};
    return kNames[left];
}

static void PutFacts(TextBuffer *json, const DrillReport &report)
{
    if (report.paceJudged) {
        AppendText(json, ",\"pace\":%u.%03u", report.pace.perMille / 1000, report.pace.perMille % 1000);
    } else {
        AppendText(json, ",\"pace\":null");
    }
    AppendText(json, ",\"expired\":%s", report.expired ? "true" : "false");
    if (report.expired) {
        AppendText(json, ",\"expiredAfter\":%u.%u", report.expiredAfterMs / 1000, report.expiredAfterMs % 1000 / 100);
    } else {
        AppendText(json, ",\"expiredAfter\":null");
    }
    if (SelName(report.sel) != nullptr) {
        AppendText(json, ",\"sel\":");
        PutString(json, SelName(report.sel));
    } else {
        AppendText(json, ",\"sel\":null");
    }
    char when[kPieceSize];
    bool recorded = report.sel == kDrillSelRecorded;
    bool dated = recorded && FormatSelTimeIso(report.record.timestamp, when, sizeof(when));
    if (recorded) {
        AppendText(json, ",\"selRecordId\":%u", static_cast<unsigned>(report.record.id));
    } else {
        AppendText(json, ",\"selRecordId\":null");
    }
    if (dated) {
        AppendText(json, ",\"selRecordTime\":\"%s\"", when);
    } else {
        AppendText(json, ",\"selRecordTime\":null");
    }
}

bool BuildDrillJson(const DrillReport &report, char *text, size_t size)
{
    if (size == 0) return false;
    TextBuffer json = {text, size, 0, true};
    text[0] = '\0';
    AppendText(&json, "{\"formatVersion\":1,\"mode\":\"%s\",\"seconds\":%u,\"verdict\":\"%s\",\"reason\":",
        report.mode == kDrillThroughService ? "service" : "alone", static_cast<unsigned>(report.seconds),
        OutcomeName(report.outcome));
    PutString(&json, report.reason);
    PutFacts(&json, report);
    AppendText(&json, ",\"timerLeft\":\"%s\",\"steps\":[", LeftName(report.left));
    for (size_t index = 0; index < report.lineCount; ++index) {
        if (index != 0) AppendText(&json, ",");
        PutString(&json, report.lines[index]);
    }
    AppendText(&json, "],\"exitCode\":%d}", static_cast<int>(DrillExitCodeOf(report.outcome)));
    return json.fits;
}
