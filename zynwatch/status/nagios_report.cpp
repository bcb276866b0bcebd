#include "status/nagios_report.h"

#include <stdio.h>
#include <string.h>

#include "watchdog/watchdog_names.h"

const uint32_t kAutomaticStart = 2;  // SERVICE_AUTO_START

static const char *const kStateNames[4] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

const char *NagiosStateName(NagiosState state)
{
    return kStateNames[state];
}

static bool OnAutomaticStart(const ServiceFacts &service)
{
    return service.error == 0 && service.startType == kAutomaticStart;
}

NagiosState DecideNagiosState(const StatusFacts &facts)
{
    StatusExitCode code = DecideStatusExitCode(facts);
    if (code == kStatusBmcWillAct) return kNagiosCritical;
    if (facts.service.error == kServiceNotInstalledError) return kNagiosWarning;
    if (facts.service.error != 0 || code == kStatusBmcUnreadable) return kNagiosUnknown;
    if (code == kStatusUnprotected || !OnAutomaticStart(facts.service)) return kNagiosWarning;
    return kNagiosOk;
}

// The plugin format gives "|" a meaning of its own: a text never carries one.
static void ReplacePipes(char *text)
{
    for (; *text != '\0'; ++text) {
        if (*text == '|') *text = '/';
    }
}

static void DescribeState(const StatusFacts &facts, NagiosState state, char *text, size_t size)
{
    unsigned long interval = StatusIntervalInUse(facts.configuration);
    unsigned long timeout = facts.configuration.settings.timeoutValue;
    if (state == kNagiosOk) {
        snprintf(text, size, "protected: a heartbeat every %lu s, the BMC acts %lu s after the last", interval, timeout);
        return;
    }
    StatusVerdict verdict;
    DecideStatusVerdict(facts, &verdict);
    if (verdict.reasonCount == 0) {
        snprintf(text, size, "protected now, but the service starts %s: after a restart of Windows this server "
                 "is not protected", StartTypeName(facts.service.startType) != nullptr ? StartTypeName(facts.service.startType)
                                                                             : "otherwise than automatically");
        return;
    }
    int used = 0;
    for (size_t index = 0; index < verdict.reasonCount && used >= 0 && static_cast<size_t>(used) < size; ++index) {
        used += snprintf(text + used, size - used, "%s%s", index == 0 ? "" : "; ", verdict.reasons[index]);
    }
    if (!facts.bmc.read && used >= 0 && static_cast<size_t>(used) < size) {
        char cause[kStatusLineSize];
        DescribeUnreadBmc(facts.bmc, cause, sizeof(cause));
        snprintf(text + used, size - used, " (%s)", cause);
    }
}

// The countdown only while the timer runs: a stopped timer's count says nothing of time left.
static void DescribePerformance(const StatusFacts &facts, char *text, size_t size)
{
    unsigned long interval = StatusIntervalInUse(facts.configuration);
    if (facts.bmc.read && ReadingRunning(facts.bmc.reading)) {
        unsigned counts = facts.bmc.reading.presentCountdown;
        snprintf(text, size, "'seconds_left'=%u.%us;;;0 'interval'=%lus;;;0", counts / 10u, counts % 10u, interval);
    } else {
        snprintf(text, size, "'interval'=%lus;;;0", interval);
    }
}

NagiosState BuildNagiosLine(const StatusFacts &facts, char *line, size_t size)
{
    NagiosState state = DecideNagiosState(facts);
    char text[kStatusMaxReasons * kStatusReasonSize + kStatusLineSize];
    DescribeState(facts, state, text, sizeof(text));
    ReplacePipes(text);
    char performance[96];
    DescribePerformance(facts, performance, sizeof(performance));
    snprintf(line, size, "%s - %s | %s", NagiosStateName(state), text, performance);
    return state;
}
