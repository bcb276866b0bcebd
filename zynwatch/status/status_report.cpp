#include "status/status_report.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "status/health_lines.h"
#include "status/sel_lines.h"
#include "watchdog/heartbeat_rules.h"
#include "watchdog/watchdog_names.h"

const uint32_t kDeviceAbsentError = 55;  // ERROR_DEV_NOT_EXIST: no "\\.\imb"

static const char *const kStateNames[8] = {"",        "stopped",          "start pending", "stop pending",
                                           "running", "continue pending", "pause pending", "paused"};
static const char *const kStartTypeNames[5] = {"boot", "system", "automatic", "manual", "disabled"};

static void AddLine(StatusReport *report, const char *format, ...) __attribute__((format(printf, 2, 3)));

static void AddLine(StatusReport *report, const char *format, ...)
{
    if (report->lineCount >= kStatusMaxLines) return;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(report->lines[report->lineCount++], kStatusLineSize, format, arguments);
    va_end(arguments);
}

static bool ServiceRuns(const ServiceFacts &service)
{
    return service.error == 0 && service.state == kServiceStateRunning;
}

// A timer that runs for the OS but takes no action at expiry would not restart a hung server.
static bool TimerGuardsTheOs(const WatchdogReading &reading)
{
    return ReadingRunning(reading) && ReadingTimerUse(reading) == kTimerUseSmsOs && ReadingTimeoutAction(reading) != 0;
}

bool StatusServiceRuns(const ServiceFacts &service)
{
    return ServiceRuns(service);
}

bool StatusTimerGuards(const BmcFacts &bmc)
{
    return bmc.read && TimerGuardsTheOs(bmc.reading);
}

uint32_t StatusIntervalInUse(const ConfigurationFacts &configuration)
{
    return HeartbeatIntervalInUse(configuration.heartbeatInterval, configuration.heartbeatRead,
                                  ArmedSettings(configuration.settings));
}

const char *ServiceStateName(uint32_t state)
{
    return state != 0 && state < 8 ? kStateNames[state] : nullptr;
}

const char *StartTypeName(uint32_t startType)
{
    return startType < 5 ? kStartTypeNames[startType] : nullptr;
}

bool HeartbeatsMissing(const StatusFacts &facts)
{
    if (!facts.bmc.read || !TimerGuardsTheOs(facts.bmc.reading)) return false;
    const WatchdogReading &reading = facts.bmc.reading;
    uint64_t interval = StatusIntervalInUse(facts.configuration);
    uint64_t allowed = (interval + kMissedHeartbeatMarginSeconds) * 10;
    return reading.presentCountdown + allowed < reading.initialCountdown;
}

StatusExitCode DecideStatusExitCode(const StatusFacts &facts)
{
    if (HealthWithheld(facts.health)) return kStatusBmcWillAct;
    if (!facts.bmc.read) return kStatusBmcUnreadable;
    if (HeartbeatsMissing(facts)) return kStatusBmcWillAct;
    bool guarded = ServiceRuns(facts.service) && TimerGuardsTheOs(facts.bmc.reading);
    return guarded ? kStatusProtected : kStatusUnprotected;
}

static void AddServiceState(const ServiceFacts &service, StatusReport *report)
{
    unsigned long state = service.state, exitCode = service.exitCode, specific = service.specificExitCode;
    if (state == kServiceStateStopped && exitCode == kServiceSpecificExitCode) {
        AddLine(report, "Service: stopped, exit code %lu, service-specific %lu", exitCode, specific);
    } else if (state == kServiceStateStopped) {
        AddLine(report, "Service: stopped, exit code %lu", exitCode);
    } else if (ServiceStateName(state) != nullptr) {
        AddLine(report, "Service: %s", ServiceStateName(state));
    } else {
        AddLine(report, "Service: state %lu", state);
    }
}

static void AddServiceLines(const ServiceFacts &service, StatusReport *report)
{
    if (service.error == kServiceNotInstalledError) {
        AddLine(report, "Service: not installed");
        return;
    }
    if (service.error != 0) {
        AddLine(report, "Service: unknown - error %lu", static_cast<unsigned long>(service.error));
        return;
    }
    AddServiceState(service, report);
    if (StartTypeName(service.startType) != nullptr) {
        AddLine(report, "Start type: %s", StartTypeName(service.startType));
    } else {
        AddLine(report, "Start type: %lu", static_cast<unsigned long>(service.startType));
    }
}

static void AddConfigurationLines(const ConfigurationFacts &configuration, StatusReport *report)
{
    const WatchdogSettings &settings = configuration.settings;
    AddLine(report, "TimeoutAction: %s (%u)", TimeoutActionName(settings.timeoutAction),
            static_cast<unsigned>(settings.timeoutAction));
    AddLine(report, "TimeoutValue: %u s", static_cast<unsigned>(settings.timeoutValue));
    AddLine(report, "PreTimeoutAction: %s (%u)%s", PreTimeoutInterruptName(settings.preTimeoutAction),
            static_cast<unsigned>(settings.preTimeoutAction),
            PreTimeoutLacksRoom(settings) ? ", not armed: it would come less than 30 s after a heartbeat" : "");
    AddLine(report, "PreTimeoutInterval: %u s", static_cast<unsigned>(settings.preTimeoutInterval));
    unsigned long used = StatusIntervalInUse(configuration);
    if (configuration.heartbeatRead) {
        AddLine(report, "HeartbeatInterval: %lu s configured, %lu s in use",
                static_cast<unsigned long>(configuration.heartbeatInterval), used);
    } else {
        AddLine(report, "HeartbeatInterval: not readable, %lu s in use", used);
    }
    if (configuration.shutdownTimeout != 0) {
        AddLine(report, "ShutdownTimeout: %u s", static_cast<unsigned>(configuration.shutdownTimeout));
    } else {
        AddLine(report, "ShutdownTimeout: off");
    }
}

void DescribeUnreadBmc(const BmcFacts &bmc, char *text, size_t size)
{
    if (OutcomeSucceeded(bmc.outcome)) {
        snprintf(text, size, "short answer of %u bytes, %u expected", static_cast<unsigned>(bmc.outcome.length),
                 static_cast<unsigned>(kWatchdogReadingLength));
        return;
    }
    char cause[48];
    DescribeOutcome(bmc.outcome, cause, sizeof(cause));
    const char *hint = bmc.outcome.error == kDeviceAbsentError ? " (no BMC device)" : "";
    snprintf(text, size, "%s%s", cause, hint);
}

static void AddReadingLines(const WatchdogReading &reading, StatusReport *report)
{
    uint8_t use = ReadingTimerUse(reading);
    uint8_t action = ReadingTimeoutAction(reading);
    uint8_t interrupt = ReadingPreTimeoutInterrupt(reading);
    char flags[96], initial[16], present[16];
    FormatExpirationFlags(reading.expirationFlags, flags, sizeof(flags));
    FormatCountdown(reading.initialCountdown, initial, sizeof(initial));
    FormatCountdown(reading.presentCountdown, present, sizeof(present));
    AddLine(report, "BMC timer use: %s (0x%02X)", TimerUseName(use), static_cast<unsigned>(use));
    AddLine(report, "BMC timer: %s", ReadingRunning(reading) ? "running" : "stopped");
    AddLine(report, "BMC don't log: %s", ReadingDontLog(reading) ? "yes" : "no");
    AddLine(report, "BMC timeout action: %s (%u)", TimeoutActionName(action), static_cast<unsigned>(action));
    AddLine(report, "BMC pre-timeout interrupt: %s (%u)", PreTimeoutInterruptName(interrupt),
            static_cast<unsigned>(interrupt));
    AddLine(report, "BMC pre-timeout interval: %u s", static_cast<unsigned>(reading.preTimeoutInterval));
    AddLine(report, "BMC expiration flags: %s", flags);
    AddLine(report, "BMC initial countdown: %s", initial);
    AddLine(report, "BMC present countdown: %s", present);
}

static void AddReason(StatusVerdict *verdict, const char *reason)
{
    if (verdict->reasonCount >= kStatusMaxReasons) return;
    snprintf(verdict->reasons[verdict->reasonCount++], kStatusReasonSize, "%s", reason);
}

static void AddServiceReason(const ServiceFacts &service, StatusVerdict *verdict)
{
    if (service.error == kServiceNotInstalledError) {
        AddReason(verdict, "the service is not installed");
    } else if (service.error != 0) {
        AddReason(verdict, "the service's state is unknown");
    } else if (service.state != kServiceStateRunning) {
        AddReason(verdict, "the service is not running");
    }
}

static void AddBmcReason(const StatusFacts &facts, StatusVerdict *verdict)
{
    const BmcFacts &bmc = facts.bmc;
    if (!bmc.read) {
        AddReason(verdict, "the BMC could not be read");
    } else if (!ReadingRunning(bmc.reading)) {
        AddReason(verdict, "the BMC's timer is stopped");
    } else if (ReadingTimerUse(bmc.reading) != kTimerUseSmsOs) {
        char reason[kStatusReasonSize];
        snprintf(reason, sizeof(reason), "the BMC's timer runs for %s, not SMS/OS",
                 TimerUseName(ReadingTimerUse(bmc.reading)));
        AddReason(verdict, reason);
    } else if (ReadingTimeoutAction(bmc.reading) == 0) {
        AddReason(verdict, "the BMC's timer takes no action when it expires");
    } else if (HeartbeatsMissing(facts)) {
        char left[16], reason[kStatusReasonSize];
        FormatCountdown(bmc.reading.presentCountdown, left, sizeof(left));
        snprintf(reason, sizeof(reason), "heartbeats are not reaching the BMC, which acts in %s", left);
        AddReason(verdict, reason);
    }
}

// Withheld heartbeats are no protection: the BMC acts when the countdown runs out.
static void AddHealthReason(const StatusFacts &facts, StatusVerdict *verdict)
{
    if (!HealthWithheld(facts.health)) return;
    if (!facts.bmc.read || !ReadingRunning(facts.bmc.reading)) {
        AddReason(verdict, "the service withholds its heartbeats: a health check fails");
        return;
    }
    char left[16], reason[kStatusReasonSize];
    FormatCountdown(facts.bmc.reading.presentCountdown, left, sizeof(left));
    snprintf(reason, sizeof(reason), "the service withholds its heartbeats: a health check fails, and the BMC acts in %s",
             left);
    AddReason(verdict, reason);
}

void DecideStatusVerdict(const StatusFacts &facts, StatusVerdict *verdict)
{
    verdict->reasonCount = 0;
    AddServiceReason(facts.service, verdict);
    AddHealthReason(facts, verdict);
    bool serviceFails = verdict->reasonCount != 0;
    AddBmcReason(facts, verdict);
    if (verdict->reasonCount == 0) {
        verdict->verdict = kVerdictYes;
    } else if (!facts.bmc.read && !serviceFails) {
        verdict->verdict = kVerdictUnknown;
    } else {
        verdict->verdict = kVerdictNo;
    }
}

const char *VerdictName(ProtectionVerdict verdict)
{
    return verdict == kVerdictYes ? "yes" : verdict == kVerdictUnknown ? "unknown" : "no";
}

static void AddVerdictLine(const StatusFacts &facts, StatusReport *report)
{
    StatusVerdict verdict;
    DecideStatusVerdict(facts, &verdict);
    char line[kStatusLineSize];
    int used = snprintf(line, sizeof(line), "Protected: %s", VerdictName(verdict.verdict));
    for (size_t index = 0; index < verdict.reasonCount && used > 0 && static_cast<size_t>(used) < sizeof(line); ++index) {
        used += snprintf(line + used, sizeof(line) - used, "%s%s", index == 0 ? " - " : "; ", verdict.reasons[index]);
    }
    AddStatusLine(report, line);
}

void BuildStatusReport(const StatusFacts &facts, StatusReport *report)
{
    report->lineCount = 0;
    AddServiceLines(facts.service, report);
    AddConfigurationLines(facts.configuration, report);
    AddSettingsLines(facts.configuration.sources, report);
    AddHealthLines(facts.health, report);
    if (facts.bmc.read) {
        AddReadingLines(facts.bmc.reading, report);
    } else {
        char cause[kStatusLineSize];
        DescribeUnreadBmc(facts.bmc, cause, sizeof(cause));
        AddLine(report, "BMC: not read - %s", cause);
    }
    AddSelLines(facts.sel, report);
    AddWithheldLine(facts.health, report);
    AddVerdictLine(facts, report);
    report->exitCode = DecideStatusExitCode(facts);
}
