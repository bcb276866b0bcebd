#pragma once
// What "zynwatch -status" learns from the BMC's System Event Log: the last watchdog expiry and
// whether a graceful shutdown came before it. The log is read from its end, for a few seconds at
// most, however many records it holds.
#include "sel/sel_rules.h"

// Seconds after which no further record is asked for.
const unsigned kSelReadLimitMs = 3000;

// Reads Get SEL Info, then the records from the newest back until the search is decided, the first
// record is reached or the time is up.
void GatherSelFacts(SelFacts *facts);
