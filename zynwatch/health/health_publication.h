#pragma once
// What the running service tells "zynwatch -status" about its health checks: the volatile subkey
// "Health" of the service key, a record per check and one for the heartbeats, each written only
// when it changes, the whole key removed when the service stops (and gone after a restart of
// Windows in any case). -status reads it only while the service runs.
#include <stddef.h>
#include <stdint.h>

#include "configuration/setting_sources.h"
#include "health/health_records.h"

// A fresh key in place of any left behind; false when it cannot be created.
bool CreateHealthPublication();

// Each writes its value only when the record differs from the one written last.
void PublishCheck(size_t index, const HealthCheckRecord &record, const char *label);
void PublishHeartbeats(bool withheld, uint32_t actedCheck, uint64_t since);

void RemoveHealthPublication();

// The facts -status shows: the checks configured in the view, with the results of the service's
// publication while it runs and publishes them.
void GatherHealthFacts(bool serviceRuns, HealthFacts *facts, SettingsView view = kSettingsConfigured);

uint64_t FileTimeNow();
CivilTime LocalCivilTime(uint64_t fileTime);

// "2026-12-08 16:26:03" in local time.
void FormatLocalTime(uint64_t fileTime, char *text, size_t size);
