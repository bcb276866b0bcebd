#pragma once
// The health values under the Group Policy key or the service's key, read at start and when they
// change, each on its own: a value of the wrong type, too long or out of range is ignored with one
// warning that names it, and the service goes on. The time of the last withholding is kept in the
// service's key.
#include <stdint.h>

#include "configuration/setting_sources.h"
#include "health/health_rules.h"

// Every health value; warn: a warning entry for each value ignored (-status reads quietly).
void ReadHealthSettings(HealthSettings *settings, bool warn, SettingsView view = kSettingsConfigured);

// The last withholding as a FILETIME; 0 when there was none or its value is not a REG_QWORD
// (then with a warning).
uint64_t ReadLastWithheld();

// False when the value could not be written.
bool WriteLastWithheld(uint64_t fileTime);
