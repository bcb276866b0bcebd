#include "drill/drill_events.h"

#include <windows.h>

#include "events/service_event_log.h"
#include "service_messages.h"

void ReportDrillVerdict(const DrillReport &report)
{
    const char *strings[2] = {report.reason, DrillLeftSentence(report)};
    switch (report.outcome) {
    case kDrillPassed:
        WriteServiceEvent(EVENTLOG_INFORMATION_TYPE, MSG_DRILL_PASSED, 2, strings);
        break;
    case kDrillFailed:
    case kDrillBmcUnread:
        WriteServiceEvent(EVENTLOG_ERROR_TYPE, MSG_DRILL_FAILED, 2, strings);
        break;
    case kDrillInterrupted:
        WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_DRILL_INTERRUPTED, 2, strings);
        break;
    default:
        break;
    }
}
