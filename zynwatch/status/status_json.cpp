#include "status/status_json.h"

#include <stdarg.h>
#include <stdio.h>

#include "status/sel_lines.h"
#include "watchdog/heartbeat_rules.h"
#include "watchdog/watchdog_names.h"

// The text written so far; fits turns false, for good, when a character found no room.
struct JsonWriter {
    char *text;
    size_t size;
    size_t used;
    bool fits;
};

static void Put(JsonWriter *json, char c)
{
    if (json->used + 1 >= json->size) {
        json->fits = false;
        return;
    }
    json->text[json->used++] = c;
    json->text[json->used] = '\0';
}

static void PutRaw(JsonWriter *json, const char *raw)
{
    for (; *raw != '\0'; ++raw) Put(json, *raw);
}

static void PutFormat(JsonWriter *json, const char *format, ...) __attribute__((format(printf, 2, 3)));

static void PutFormat(JsonWriter *json, const char *format, ...)
{
    char piece[32];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(piece, sizeof(piece), format, arguments);
    va_end(arguments);
    PutRaw(json, piece);
}

// Escapes what JSON requires and every byte outside printable ASCII, as \u00XX of the byte.
static void PutEscaped(JsonWriter *json, unsigned char c)
{
    switch (c) {
    case '"': PutRaw(json, "\\\""); return;
    case '\\': PutRaw(json, "\\\\"); return;
    case '\b': PutRaw(json, "\\b"); return;
    case '\f': PutRaw(json, "\\f"); return;
    case '\n': PutRaw(json, "\\n"); return;
    case '\r': PutRaw(json, "\\r"); return;
    case '\t': PutRaw(json, "\\t"); return;
    default: break;
    }
    if (c < 0x20 || c >= 0x7F) {
        PutFormat(json, "\\u%04X", static_cast<unsigned>(c));
    } else {
        Put(json, static_cast<char>(c));
    }
}

static void PutString(JsonWriter *json, const char *text)
{
    Put(json, '"');
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c != '\0'; ++c) PutEscaped(json, *c);
    Put(json, '"');
}

// A comma before every member or element but the first of its object or array.
static void Separate(JsonWriter *json)
{
    char last = json->used != 0 ? json->text[json->used - 1] : '{';
    if (last != '{' && last != '[') Put(json, ',');
}

static void Key(JsonWriter *json, const char *name)
{
    Separate(json);
    PutString(json, name);
    Put(json, ':');
}

static void KeyNull(JsonWriter *json, const char *name)
{
    Key(json, name);
    PutRaw(json, "null");
}

// A text, or null for none.
static void KeyText(JsonWriter *json, const char *name, const char *text)
{
    if (text == nullptr) {
        KeyNull(json, name);
        return;
    }
    Key(json, name);
    PutString(json, text);
}

static void KeyNumber(JsonWriter *json, const char *name, uint32_t value)
{
    Key(json, name);
    PutFormat(json, "%lu", static_cast<unsigned long>(value));
}

// A number when it is known, else null: an absent fact is never shown as 0.
static void KeyKnownNumber(JsonWriter *json, const char *name, bool known, uint32_t value)
{
    if (known) {
        KeyNumber(json, name, value);
    } else {
        KeyNull(json, name);
    }
}

static void KeyBool(JsonWriter *json, const char *name, bool value)
{
    Key(json, name);
    PutRaw(json, value ? "true" : "false");
}

static void KeyKnownBool(JsonWriter *json, const char *name, bool known, bool value)
{
    if (known) {
        KeyBool(json, name, value);
    } else {
        KeyNull(json, name);
    }
}

// Seconds with one decimal from a countdown in 100 ms counts, or null.
static void KeyKnownCountdown(JsonWriter *json, const char *name, bool known, uint16_t counts)
{
    if (!known) {
        KeyNull(json, name);
        return;
    }
    Key(json, name);
    PutFormat(json, "%u.%u", counts / 10u, counts % 10u);
}

// Local time as ISO 8601 with its offset from UTC, "2026-12-08T16:26:03+01:00", or null.
static void KeyKnownTime(JsonWriter *json, const char *name, bool known, const CivilTime &time)
{
    if (!known) {
        KeyNull(json, name);
        return;
    }
    Key(json, name);
    PutFormat(json, "\"%04u-%02u-%02uT%02u:%02u:%02u", time.year, time.month, time.day, time.hour, time.minute,
              time.second);
    unsigned offset = static_cast<unsigned>(time.utcOffsetMinutes < 0 ? -time.utcOffsetMinutes : time.utcOffsetMinutes);
    PutFormat(json, "%c%02u:%02u\"", time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60u, offset % 60u);
}

static void OpenObject(JsonWriter *json, const char *name)
{
    Key(json, name);
    Put(json, '{');
}

static void OpenArray(JsonWriter *json, const char *name)
{
    Key(json, name);
    Put(json, '[');
}

static void PutService(JsonWriter *json, const ServiceFacts &service)
{
    bool known = service.error == 0;
    bool stopped = known && service.state == kServiceStateStopped;
    OpenObject(json, "service");
    KeyKnownBool(json, "installed", known || service.error == kServiceNotInstalledError, known);
    KeyKnownNumber(json, "error", !known, service.error);
    KeyText(json, "state", known ? ServiceStateName(service.state) : nullptr);
    KeyKnownNumber(json, "stateCode", known, service.state);
    KeyKnownNumber(json, "exitCode", stopped, service.exitCode);
    KeyKnownNumber(json, "serviceSpecificExitCode", stopped && service.exitCode == kServiceSpecificExitCode,
                   service.specificExitCode);
    KeyText(json, "startType", known ? StartTypeName(service.startType) : nullptr);
    KeyKnownNumber(json, "startTypeCode", known, service.startType);
    Put(json, '}');
}

static void PutConfiguration(JsonWriter *json, const ConfigurationFacts &configuration)
{
    const WatchdogSettings &settings = configuration.settings;
    OpenObject(json, "configuration");
    KeyNumber(json, "timeoutAction", settings.timeoutAction);
    KeyText(json, "timeoutActionName", TimeoutActionName(settings.timeoutAction));
    KeyNumber(json, "timeoutValue", settings.timeoutValue);
    KeyNumber(json, "preTimeoutAction", settings.preTimeoutAction);
    KeyText(json, "preTimeoutActionName", PreTimeoutInterruptName(settings.preTimeoutAction));
    KeyBool(json, "preTimeoutArmed", ArmedSettings(settings).preTimeoutAction != 0);
    KeyNumber(json, "preTimeoutInterval", settings.preTimeoutInterval);
    KeyKnownNumber(json, "heartbeatInterval", configuration.heartbeatRead, configuration.heartbeatInterval);
    KeyNumber(json, "heartbeatIntervalInUse", StatusIntervalInUse(configuration));
    KeyKnownNumber(json, "shutdownTimeout", configuration.shutdownTimeout != 0, configuration.shutdownTimeout);
    Put(json, '}');
}

// Each value of the catalogue with where the service found it and whether the registry holds it
// otherwise now; notApplied is null unless inUse.
static void PutSettings(JsonWriter *json, const SettingsFacts &settings)
{
    OpenObject(json, "settings");
    KeyBool(json, "inUse", settings.applied);
    OpenArray(json, "values");
    for (size_t index = 0; index < kSettingCount; ++index) {
        Separate(json);
        Put(json, '{');
        KeyText(json, "name", kSettingCatalogue[index].name);
        KeyText(json, "source", SettingSourceName(settings.sources[index]));
        KeyKnownBool(json, "notApplied", settings.applied, settings.notApplied[index]);
        Put(json, '}');
    }
    Put(json, ']');
    Put(json, '}');
}

static void PutHeartbeats(JsonWriter *json, const HeartbeatFacts &heartbeats)
{
    OpenObject(json, "heartbeats");
    KeyKnownNumber(json, "failures", heartbeats.published, heartbeats.failures);
    KeyKnownNumber(json, "failuresInARow", heartbeats.published, heartbeats.failuresInARow);
    KeyKnownTime(json, "lastExpiryFound", heartbeats.expiryFound != 0, heartbeats.expiryFoundAt);
    Put(json, '}');
}

static const char *CheckStateName(uint8_t state)
{
    return state == kCheckPassed ? "passed" : state == kCheckFailed ? "failed" : "notCheckedYet";
}

// A check as the running service saw it; its result is null when the service did not check it.
static void PutCheck(JsonWriter *json, const HealthFacts &health, const HealthCheckFacts &check)
{
    const HealthCheckRecord &record = check.record;
    bool seen = health.source == kHealthFromService;
    char cause[kHealthReasonSize];
    DescribeHealthCause(record.cause, cause, sizeof(cause));
    Separate(json);
    Put(json, '{');
    KeyText(json, "name", check.label);
    KeyText(json, "state", seen ? CheckStateName(record.state) : nullptr);
    KeyKnownTime(json, "since", seen && record.state != kCheckNotYet, check.since);
    KeyText(json, "cause", seen && record.state == kCheckFailed ? cause : nullptr);
    KeyKnownBool(json, "everPassed", seen, record.everPassed);
    Put(json, '}');
}

static const char *HealthSourceName(uint8_t source)
{
    return source == kHealthFromService ? "service" : source == kHealthServiceNotRunning ? "serviceNotRunning"
                                                                                        : "notPublished";
}

static void PutHealth(JsonWriter *json, const HealthFacts &health)
{
    if (health.checkCount == 0) {
        KeyNull(json, "health");
        return;
    }
    OpenObject(json, "health");
    KeyNumber(json, "checkInterval", health.settings.checkInterval);
    KeyNumber(json, "gracePeriod", health.settings.gracePeriod);
    KeyNumber(json, "commandTimeout", health.settings.commandTimeout);
    KeyBool(json, "repairCommand", health.settings.repairCommand[0] != '\0');
    KeyText(json, "source", HealthSourceName(health.source));
    OpenArray(json, "checks");
    for (size_t index = 0; index < health.checkCount && index < kHealthMaxChecks; ++index) {
        PutCheck(json, health, health.checks[index]);
    }
    Put(json, ']');
    bool withheld = HealthWithheld(health);
    size_t failing = WithheldCheck(health);
    KeyBool(json, "heartbeatsWithheld", withheld);
    KeyKnownTime(json, "withheldSince", withheld, health.withheldSince);
    KeyText(json, "withheldFor", withheld && failing < health.checkCount ? health.checks[failing].label : nullptr);
    Put(json, '}');
}

static void PutExpirationFlags(JsonWriter *json, bool read, uint8_t flags)
{
    if (!read) {
        KeyNull(json, "expirationFlagNames");
        return;
    }
    OpenArray(json, "expirationFlagNames");
    for (uint8_t bit = 0; bit < 8; ++bit) {
        if (!(flags & (1u << bit))) continue;
        char name[16];
        ExpirationFlagName(bit, name, sizeof(name));
        Separate(json);
        PutString(json, name);
    }
    Put(json, ']');
}

// Get Watchdog Timer's answer field by field; every field null when the BMC was not read.
static void PutReading(JsonWriter *json, bool read, const WatchdogReading &reading)
{
    uint8_t use = ReadingTimerUse(reading);
    uint8_t action = ReadingTimeoutAction(reading);
    uint8_t interrupt = ReadingPreTimeoutInterrupt(reading);
    KeyKnownNumber(json, "timerUse", read, use);
    KeyText(json, "timerUseName", read ? TimerUseName(use) : nullptr);
    KeyKnownBool(json, "timerRunning", read, ReadingRunning(reading));
    KeyKnownBool(json, "dontLog", read, ReadingDontLog(reading));
    KeyKnownNumber(json, "timeoutAction", read, action);
    KeyText(json, "timeoutActionName", read ? TimeoutActionName(action) : nullptr);
    KeyKnownNumber(json, "preTimeoutInterrupt", read, interrupt);
    KeyText(json, "preTimeoutInterruptName", read ? PreTimeoutInterruptName(interrupt) : nullptr);
    KeyKnownNumber(json, "preTimeoutInterval", read, reading.preTimeoutInterval);
    KeyKnownNumber(json, "expirationFlags", read, reading.expirationFlags);
    PutExpirationFlags(json, read, reading.expirationFlags);
    KeyKnownCountdown(json, "initialCountdown", read, reading.initialCountdown);
    KeyKnownCountdown(json, "presentCountdown", read, reading.presentCountdown);
}

static void PutBmc(JsonWriter *json, const BmcFacts &bmc)
{
    bool answered = bmc.outcome.error == 0;
    char cause[kStatusLineSize];
    DescribeUnreadBmc(bmc, cause, sizeof(cause));
    OpenObject(json, "bmc");
    KeyBool(json, "read", bmc.read);
    KeyText(json, "notReadReason", bmc.read ? nullptr : cause);
    KeyKnownNumber(json, "error", !answered, bmc.outcome.error);
    KeyKnownNumber(json, "completionCode", answered, bmc.outcome.completionCode);
    PutReading(json, bmc.read, bmc.reading);
    Put(json, '}');
}

static void PutExpiry(JsonWriter *json, const SelHistory &history)
{
    if (!history.expiryFound) {
        KeyNull(json, "lastExpiry");
        return;
    }
    const SelRecord &expiry = history.expiry;
    uint8_t action = SelExpiryAction(expiry), use = SelExpiryTimerUse(expiry);
    bool useKnown = use < 8;
    char when[24];
    bool dated = FormatSelTimeIso(expiry.timestamp, when, sizeof(when));
    OpenObject(json, "lastExpiry");
    KeyNumber(json, "recordId", expiry.id);
    KeyNumber(json, "timestamp", expiry.timestamp);
    KeyText(json, "time", dated ? when : nullptr);
    KeyNumber(json, "action", action);
    KeyText(json, "actionName", TimeoutActionName(action));
    KeyKnownNumber(json, "timerUse", useKnown, use);
    KeyText(json, "timerUseName", useKnown ? TimerUseName(use) : nullptr);
    KeyKnownBool(json, "gracefulShutdownBefore", history.shutdownBefore != kShutdownBeforeUnknown,
                 history.shutdownBefore == kShutdownBeforeYes);
    Put(json, '}');
}

// The BMC's log, or null when it was not asked; the search's facts null unless it was read.
static void PutSel(JsonWriter *json, const SelFacts &sel)
{
    if (!sel.attempted) {
        KeyNull(json, "sel");
        return;
    }
    bool answered = sel.outcome.error == 0;
    char cause[kStatusLineSize];
    DescribeUnreadSel(sel, cause, sizeof(cause));
    OpenObject(json, "sel");
    KeyBool(json, "read", sel.read);
    KeyText(json, "notReadReason", sel.read ? nullptr : cause);
    KeyKnownNumber(json, "error", !sel.read && !answered, sel.outcome.error);
    KeyKnownNumber(json, "completionCode", !sel.read && answered, sel.outcome.completionCode);
    KeyKnownNumber(json, "entries", sel.read, sel.info.entries);
    KeyKnownBool(json, "full", sel.read, SelFull(sel.info));
    KeyKnownNumber(json, "recordsSearched", sel.read, sel.history.recordsRead);
    KeyKnownBool(json, "searchedToFirstRecord", sel.read, sel.reachedStart);
    PutExpiry(json, sel.history);
    Put(json, '}');
}

static void PutVerdict(JsonWriter *json, const StatusFacts &facts)
{
    StatusVerdict verdict;
    DecideStatusVerdict(facts, &verdict);
    KeyText(json, "protected", VerdictName(verdict.verdict));
    OpenArray(json, "reasons");
    for (size_t index = 0; index < verdict.reasonCount; ++index) {
        Separate(json);
        PutString(json, verdict.reasons[index]);
    }
    Put(json, ']');
    KeyNumber(json, "exitCode", DecideStatusExitCode(facts));
}

bool BuildStatusJson(const StatusFacts &facts, char *text, size_t size)
{
    if (size == 0) return false;
    JsonWriter json = {text, size, 0, true};
    text[0] = '\0';
    Put(&json, '{');
    KeyNumber(&json, "formatVersion", kStatusJsonFormatVersion);
    PutService(&json, facts.service);
    PutConfiguration(&json, facts.configuration);
    PutSettings(&json, facts.configuration.sources);
    PutHeartbeats(&json, facts.heartbeats);
    PutHealth(&json, facts.health);
    PutBmc(&json, facts.bmc);
    PutSel(&json, facts.sel);
    PutVerdict(&json, facts);
    Put(&json, '}');
    return json.fits;
}
