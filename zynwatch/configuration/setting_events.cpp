#include "configuration/setting_events.h"

#include <windows.h>

#include "events/service_event_log.h"
#include "service_messages.h"

void ReportPolicyValueIgnored(const char *name, const char *reason)
{
    const char *strings[2] = {name, reason};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_POLICY_VALUE_IGNORED, 2, strings);
}
