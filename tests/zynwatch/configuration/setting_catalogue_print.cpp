// Prints the settings the service reads, from its own catalogue, one a line: "key PATH", then
// "NAME TYPE LOWEST HIGHEST COUNT" with the registry type the service reads. policy_template.py
// holds the Group Policy template against it.
#include <stdio.h>

#include "configuration/setting_catalogue.h"

static const char *TypeName(SettingKind kind)
{
    switch (kind) {
    case kSettingNumber: return "REG_DWORD";
    case kSettingText: return "REG_SZ";
    case kSettingCommand: return "REG_EXPAND_SZ";
    default: return "REG_MULTI_SZ";
    }
}

int main()
{
    printf("key %s\n", kPolicyKeyPath);
    for (const SettingEntry &entry : kSettingCatalogue) {
        printf("%s %s %lu %lu %lu\n", entry.name, TypeName(entry.kind), static_cast<unsigned long>(entry.lowest),
               static_cast<unsigned long>(entry.highest), static_cast<unsigned long>(entry.count));
    }
    return 0;
}
