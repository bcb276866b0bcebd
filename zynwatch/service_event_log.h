#pragma once
// The service's only error channel: one error entry with two strings in the event log.
#include <windows.h>

// Writes "<service> error: <code>" and message; nothing happens when the source cannot be registered.
void WriteServiceErrorEntry(DWORD code, const char *message);
