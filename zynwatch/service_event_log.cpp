#include "service_event_log.h"

#include <stdio.h>

#include "../common/guards.h"
#include "service_identity.h"

void WriteServiceErrorEntry(DWORD code, const char *message)
{
    UniqueEventSource source(RegisterEventSourceA(nullptr, kServiceName));
    char first[256];
    snprintf(first, sizeof(first), "%s error: %d", kServiceName, static_cast<int>(code));
    if (!source.Valid()) return;
    const char *strings[2] = {first, message};
    ReportEventA(source.Get(), EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
}
