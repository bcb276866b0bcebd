#include "status/settings_lines.h"

#include <stdio.h>

// The names of the values chosen, after the label; false when none is.
static bool ListNames(const char *label, const bool chosen[kSettingCount], const char *after, StatusReport *report)
{
    char line[kStatusLineSize];
    int used = snprintf(line, sizeof(line), "%s:", label);
    size_t count = 0;
    for (size_t index = 0; index < kSettingCount && used > 0 && static_cast<size_t>(used) < sizeof(line); ++index) {
        if (!chosen[index]) continue;
        used += snprintf(line + used, sizeof(line) - used, "%s %s", count++ == 0 ? "" : ",",
                         kSettingCatalogue[index].name);
    }
    if (count == 0) return false;
    if (used > 0 && static_cast<size_t>(used) < sizeof(line)) snprintf(line + used, sizeof(line) - used, "%s", after);
    AddStatusLine(report, line);
    return true;
}

void AddSettingsLines(const SettingsFacts &facts, StatusReport *report)
{
    bool policy[kSettingCount];
    for (size_t index = 0; index < kSettingCount; ++index) policy[index] = facts.sources[index] == kSourcePolicy;
    ListNames("Set by Group Policy", policy, "", report);
    if (!facts.applied) return;
    ListNames("Not applied yet", facts.notApplied, " - the registry holds other values than the service uses", report);
}

uint32_t CountNotApplied(const SettingsFacts &facts)
{
    uint32_t count = 0;
    for (size_t index = 0; index < kSettingCount; ++index) count += facts.applied && facts.notApplied[index] ? 1 : 0;
    return count;
}
