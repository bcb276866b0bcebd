#pragma once
// The BMC's log in "zynwatch -status": its records, and the last watchdog expiry with whether a
// graceful shutdown came before it. Plain logic without Win32 calls, so it also builds and is
// tested natively.
#include "sel/sel_rules.h"
#include "status/report_lines.h"

// Two lines; none when the BMC did not answer, so its log was not asked.
void AddSelLines(const SelFacts &facts, StatusReport *report);

// "none - the BMC has no SEL (completion code 0xC1)", "not read - error 258 (no answer in time)".
void DescribeUnreadSel(const SelFacts &facts, char *text, size_t size);
