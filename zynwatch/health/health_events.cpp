#include "health/health_events.h"

#include <windows.h>

#include <stdio.h>

#include "events/service_event_log.h"
#include "service_messages.h"
#include "watchdog/watchdog_names.h"

void ReportHealthValueIgnored(const char *name, const char *reason)
{
    const char *strings[2] = {name, reason};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_HEALTH_VALUE_IGNORED, 2, strings);
}

void ReportHealthCheckFailed(const char *label, const HealthCause &cause, uint32_t graceSeconds)
{
    char text[kHealthReasonSize], grace[16];
    DescribeHealthCause(cause, text, sizeof(text));
    snprintf(grace, sizeof(grace), "%lu", static_cast<unsigned long>(graceSeconds));
    const char *strings[3] = {label, text, grace};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_HEALTH_CHECK_FAILED, 3, strings);
}

void ReportHealthCheckNeverPassed(const char *label, const HealthCause &cause)
{
    char text[kHealthReasonSize];
    DescribeHealthCause(cause, text, sizeof(text));
    const char *strings[2] = {label, text};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_HEALTH_CHECK_NEVER_PASSED, 2, strings);
}

void ReportHealthCheckPassed(const char *label, const char *failedSince)
{
    const char *strings[2] = {label, failedSince};
    WriteServiceEvent(EVENTLOG_INFORMATION_TYPE, MSG_HEALTH_CHECK_PASSED, 2, strings);
}

void ReportRepairMended(const HealthActing &acting)
{
    const char *strings[3] = {acting.label, acting.failedSince, acting.repair};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_HEALTH_REPAIR_MENDED, 3, strings);
}

void ReportHeartbeatsWithheld(const HealthActing &acting, uint8_t timeoutAction, uint32_t timeoutSeconds,
                              const char *latest)
{
    char cause[kHealthReasonSize], seconds[16];
    DescribeHealthCause(acting.cause, cause, sizeof(cause));
    snprintf(seconds, sizeof(seconds), "%lu", static_cast<unsigned long>(timeoutSeconds));
    const char *strings[7] = {acting.label, acting.failedSince,           cause, acting.repair,
                              TimeoutActionName(timeoutAction), seconds, latest};
    WriteServiceEvent(EVENTLOG_ERROR_TYPE, MSG_HEARTBEATS_WITHHELD, 7, strings);
}

void ReportWithholdingRefused(const HealthActing &acting, const char *lastWithheld)
{
    char cause[kHealthReasonSize];
    DescribeHealthCause(acting.cause, cause, sizeof(cause));
    const char *strings[5] = {acting.label, acting.failedSince, cause, acting.repair, lastWithheld};
    WriteServiceEvent(EVENTLOG_ERROR_TYPE, MSG_WITHHOLDING_REFUSED, 5, strings);
}

void ReportHeartbeatsResumedByHealth(const char *withheldSince)
{
    const char *strings[1] = {withheldSince};
    WriteServiceEvent(EVENTLOG_INFORMATION_TYPE, MSG_HEARTBEATS_RESUMED_HEALTHY, 1, strings);
}

void ReportHealthChecksNotStarted(uint32_t error)
{
    char code[16];
    snprintf(code, sizeof(code), "%lu", static_cast<unsigned long>(error));
    const char *strings[1] = {code};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_HEALTH_CHECKS_NOT_STARTED, 1, strings);
}
