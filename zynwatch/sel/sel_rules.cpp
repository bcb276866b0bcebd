#include "sel/sel_rules.h"

#include <stdio.h>

#include "watchdog/watchdog_messages.h"

const uint32_t kTypeDwordNumber = 4;  // REG_DWORD
const uint8_t kSystemEventRecord = 0x02;
const uint8_t kSensorSpecific = 0x6F;
const uint8_t kDeassertion = 0x80;
const uint8_t kSensorWatchdog2 = 0x23;
const uint8_t kSensorOsBoot = 0x1F;
const uint8_t kSensorOsStop = 0x20;
const uint8_t kLastExpiryOffset = 0x03;     // power cycle
const uint8_t kLastBootOffset = 0x06;       // boot completed - boot device not specified
const uint8_t kGracefulStopOffset = 0x02;   // graceful stop, then graceful shutdown (03h)
const uint8_t kGracefulShutdownOffset = 0x03;
const uint8_t kUnspecifiedTimerUse = 0x0F;

bool JudgeSelEvents(uint32_t type, uint32_t size, uint32_t number, bool *on, char *reason, size_t reasonSize)
{
    *on = true;
    if (type != kTypeDwordNumber || size != 4) {
        snprintf(reason, reasonSize, "it is not a REG_DWORD of 4 bytes; the events are written");
        return false;
    }
    if (number > 1) {
        snprintf(reason, reasonSize, "%lu is neither 0 (off) nor 1 (on); the events are written",
                 static_cast<unsigned long>(number));
        return false;
    }
    *on = number == 1;
    return true;
}

static uint8_t Offset(const SelRecord &record)
{
    return record.data[0] & 0x0F;
}

SelRecordKind ClassifySelRecord(const SelRecord &record)
{
    if (record.type != kSystemEventRecord || record.eventType != kSensorSpecific) return kSelOtherRecord;
    uint8_t offset = Offset(record);
    if (record.sensorType == kSensorWatchdog2 && offset <= kLastExpiryOffset) return kSelWatchdogExpiry;
    if (record.sensorType == kSensorOsBoot && offset <= kLastBootOffset) return kSelOsBoot;
    if (record.sensorType == kSensorOsStop && (offset == kGracefulStopOffset || offset == kGracefulShutdownOffset)) {
        return kSelOsShutdown;
    }
    return kSelOtherRecord;
}

uint8_t SelExpiryAction(const SelRecord &record)
{
    return Offset(record);
}

uint8_t SelExpiryTimerUse(const SelRecord &record)
{
    return record.data[1] & 0x0F;
}

bool IsDrillExpiry(const SelRecord &record)
{
    uint8_t use = SelExpiryTimerUse(record);
    return ClassifySelRecord(record) == kSelWatchdogExpiry && SelExpiryAction(record) == 0 &&
           (use == kTimerUseSmsOs || use == kUnspecifiedTimerUse);
}

void BeginSelHistory(SelHistory *history)
{
    *history = {};
    history->shutdownBefore = kShutdownBeforeUnknown;
}

bool NoteOlderSelRecord(SelHistory *history, const SelRecord &record)
{
    if (history->decided) return true;
    history->recordsRead++;
    SelRecordKind kind = ClassifySelRecord(record);
    if (!history->expiryFound) {
        if (kind == kSelWatchdogExpiry) {
            history->expiryFound = true;
            history->expiry = record;
        }
        return false;
    }
    if (kind == kSelOsShutdown) history->shutdownBefore = kShutdownBeforeYes;
    if (kind == kSelOsBoot) history->shutdownBefore = kShutdownBeforeNo;
    history->decided = history->shutdownBefore != kShutdownBeforeUnknown;
    return history->decided;
}

struct CalendarTime {
    unsigned year, month, day, hour, minute, second;
};

// Days since 1970-01-01 to the proleptic Gregorian date.
static CalendarTime Calendar(uint32_t timestamp)
{
    uint32_t days = timestamp / 86400, seconds = timestamp % 86400;
    uint32_t z = days + 719468;
    uint32_t era = z / 146097;
    uint32_t dayOfEra = z - era * 146097;
    uint32_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    uint32_t monthIndex = (5 * dayOfYear + 2) / 153;
    CalendarTime time;
    time.day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    time.month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    time.year = yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0);
    time.hour = seconds / 3600;
    time.minute = seconds / 60 % 60;
    time.second = seconds % 60;
    return time;
}

void FormatSelTime(uint32_t timestamp, char *text, size_t size)
{
    if (timestamp <= kSelPreInitLimit) {
        snprintf(text, size, "%lu s after the BMC started", static_cast<unsigned long>(timestamp));
        return;
    }
    CalendarTime t = Calendar(timestamp);
    snprintf(text, size, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

bool FormatSelTimeIso(uint32_t timestamp, char *text, size_t size)
{
    if (timestamp <= kSelPreInitLimit) return false;
    CalendarTime t = Calendar(timestamp);
    snprintf(text, size, "%04u-%02u-%02uT%02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return true;
}

bool SelAbsent(const SelFacts &facts)
{
    return facts.attempted && !facts.read && facts.outcome.error == 0 &&
           facts.outcome.completionCode == kCompletionCodeNoSel;
}
