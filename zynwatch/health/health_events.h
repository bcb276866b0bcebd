#pragma once
// The entries the health checks write; each has its own identifier and text in the message table.
// Times are given as the administrator reads them, in local time.
#include <stdint.h>

#include "health/health_rules.h"

// A health value of the wrong type, too long or out of range, with the reason.
void ReportHealthValueIgnored(const char *name, const char *reason);

// The first failure of a check that has passed before, or of one that never passed.
void ReportHealthCheckFailed(const char *label, const HealthCause &cause, uint32_t graceSeconds);
void ReportHealthCheckNeverPassed(const char *label, const HealthCause &cause);

// The first pass after the failures that began at failedSince.
void ReportHealthCheckPassed(const char *label, const char *failedSince);

// What the service did when a check's grace ended.
struct HealthActing {
    const char *label;
    const char *failedSince;
    HealthCause cause;
    char repair[kHealthReasonSize];  // DescribeRepair's clause
};

void ReportRepairMended(const HealthActing &acting);
void ReportHeartbeatsWithheld(const HealthActing &acting, uint8_t timeoutAction, uint32_t timeoutSeconds,
                              const char *latest);
void ReportWithholdingRefused(const HealthActing &acting, const char *lastWithheld);

// Every check passes again while the heartbeats were withheld.
void ReportHeartbeatsResumedByHealth(const char *withheldSince);

// The checks' thread could not be started; the heartbeats go on without them.
void ReportHealthChecksNotStarted(uint32_t error);
