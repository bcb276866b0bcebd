#pragma once
// The report of "zynwatch -status -json": the facts of the text form as one JSON object on one
// line, for scripts and fleet tools. Plain logic without Win32 calls, so it also builds and is
// tested natively.
#include <stddef.h>

#include "status/status_report.h"

// Field names are lower camel case and stable; a new field never changes an old one's meaning.
// 2: times carry their offset from UTC.
const unsigned kStatusJsonFormatVersion = 2;

// Room for every field, the BMC's log among them, with each check's name escaped byte by byte (at
// most six bytes each).
const size_t kStatusJsonSize = 4096 + 1024 + kSettingCount * 96 + kHealthMaxChecks * (6 * kHealthLabelSize + 512);

// Writes the object, with the exit code the text form ends with, into text without a line end;
// false when it does not fit.
// Text is carried as the system gave it: control characters, quotes and backslashes are escaped,
// and a byte of 0x80 or above becomes \u00XX of its own value, so the output is ASCII whatever the
// ANSI code page, and a reader gets every byte back unchanged.
bool BuildStatusJson(const StatusFacts &facts, char *text, size_t size);
