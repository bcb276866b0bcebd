#pragma once
// Where the settings of "zynwatch -status" come from: the values the running service applied, each
// from the Group Policy key or the service's key, and those the registry holds that it has not
// applied yet. Plain logic without Win32 calls, so it also builds and is tested natively.
#include <stdint.h>

#include "configuration/setting_catalogue.h"
#include "status/report_lines.h"

struct SettingsFacts {
    bool applied;                       // the running service's published values, not the registry's
    uint8_t sources[kSettingCount];     // SettingSource of each value of the catalogue
    bool notApplied[kSettingCount];     // the registry holds another value than the service uses
};

// "Set by Group Policy: A, B" while a value in use comes from the policy key; "Not applied yet: C"
// while the registry holds another value than the running service uses. Nothing otherwise.
void AddSettingsLines(const SettingsFacts &facts, StatusReport *report);

// The number of values not applied yet.
uint32_t CountNotApplied(const SettingsFacts &facts);
