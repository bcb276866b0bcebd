#include "status/health_lines.h"

#include <stdio.h>

#include "status/report_lines.h"

// Room for a long label; the report cuts each line to its own size.
const size_t kLongLineSize = kHealthLabelSize + 2 * kStatusLineSize;

static void AddSettingsLine(const HealthSettings &settings, StatusReport *report)
{
    char line[kStatusLineSize];
    snprintf(line, sizeof(line), "Health checks: every %lu s, grace %lu s, time limit %lu s, %s",
             static_cast<unsigned long>(settings.checkInterval), static_cast<unsigned long>(settings.gracePeriod),
             static_cast<unsigned long>(settings.commandTimeout),
             settings.repairCommand[0] != '\0' ? "RepairCommand set" : "no RepairCommand");
    AddStatusLine(report, line);
}

// "passed since ...", "failed since ... - cause", or why the service did not check it.
static void DescribeCheck(const HealthFacts &facts, const HealthCheckFacts &check, char *text, size_t size)
{
    if (facts.source == kHealthServiceNotRunning) {
        snprintf(text, size, "not checked - the service is not running");
        return;
    }
    if (facts.source == kHealthNotPublished) {
        snprintf(text, size, "not checked - configured after the service started; restart the service");
        return;
    }
    char since[24], cause[kHealthReasonSize];
    FormatCivilTime(check.since, since, sizeof(since));
    DescribeHealthCause(check.record.cause, cause, sizeof(cause));
    if (check.record.state == kCheckPassed) {
        snprintf(text, size, "passed since %s", since);
    } else if (check.record.state == kCheckFailed) {
        snprintf(text, size, "failed since %s - %s%s", since, cause,
                 check.record.everPassed ? "" : "; it never passed, so it is not acted upon");
    } else {
        snprintf(text, size, "not checked yet");
    }
}

void AddHealthLines(const HealthFacts &facts, StatusReport *report)
{
    if (facts.checkCount == 0) return;
    AddSettingsLine(facts.settings, report);
    for (size_t index = 0; index < facts.checkCount && index < kHealthMaxChecks; ++index) {
        char result[kStatusLineSize], line[kLongLineSize];
        DescribeCheck(facts, facts.checks[index], result, sizeof(result));
        snprintf(line, sizeof(line), "%s: %s", facts.checks[index].label, result);
        AddStatusLine(report, line);
    }
}

void AddWithheldLine(const HealthFacts &facts, StatusReport *report)
{
    if (!HealthWithheld(facts)) return;
    char withheldSince[24], line[kLongLineSize];
    FormatCivilTime(facts.withheldSince, withheldSince, sizeof(withheldSince));
    size_t failing = WithheldCheck(facts);
    if (failing < facts.checkCount) {
        const HealthCheckFacts &check = facts.checks[failing];
        char since[24], cause[kHealthReasonSize];
        FormatCivilTime(check.since, since, sizeof(since));
        DescribeHealthCause(check.record.cause, cause, sizeof(cause));
        snprintf(line, sizeof(line), "Heartbeats: withheld since %s - %s has failed since %s (%s); the BMC acts when "
                 "its countdown runs out", withheldSince, check.label, since, cause);
    } else {
        snprintf(line, sizeof(line), "Heartbeats: withheld since %s - a health check fails; the BMC acts when its "
                 "countdown runs out", withheldSince);
    }
    AddStatusLine(report, line);
}
