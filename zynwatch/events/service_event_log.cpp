#include "events/service_event_log.h"

#include <stdio.h>

#include "guards.h"
#include "service_identity.h"
#include "service_messages.h"

void WriteServiceEvent(WORD type, DWORD eventId, WORD count, const char *const *strings)
{
    UniqueEventSource source(RegisterEventSourceA(nullptr, kServiceName));
    if (!source.Valid()) return;
    ReportEventA(source.Get(), type, 0, eventId, nullptr, count, 0, const_cast<const char **>(strings), nullptr);
}

void WriteServiceErrorEntry(DWORD code, const char *message)
{
    char first[256];
    snprintf(first, sizeof(first), "%s error: %d", kServiceName, static_cast<int>(code));
    const char *strings[2] = {first, message};
    WriteServiceEvent(EVENTLOG_ERROR_TYPE, MSG_SERVICE_ERROR, 2, strings);
}
