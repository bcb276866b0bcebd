#pragma once
// The service's only channel to the administrator: entries in the Application event log under
// the source ZynAsrService, whose texts zynwatch.exe carries as its message table.
#include <windows.h>

// Writes "<service> error: <code>" and message as entry 0; nothing happens when the source
// cannot be registered.
void WriteServiceErrorEntry(DWORD code, const char *message);

// One entry of type (EVENTLOG_*_TYPE) with the identifier of the message table and its
// insertion strings.
void WriteServiceEvent(WORD type, DWORD eventId, WORD count, const char *const *strings);
