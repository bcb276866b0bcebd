#pragma once
// The service's event source in the Application log, so the Event Viewer finds the texts of the
// entries in the service program's message table.
#include <windows.h>

const char kEventSourceKeyPath[] = "System\\CurrentControlSet\\Services\\EventLog\\Application\\ZynAsrService";
const DWORD kEventTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

// Creates the source's key with "EventMessageFile" (messageFile, unquoted) and "TypesSupported";
// true when both were written.
bool RegisterServiceEventSource(const char *messageFile);

// Deletes the source's key; true when it is gone, also when there was none.
bool RemoveServiceEventSource();
