#include "watchdog/watchdog_names.h"

#include <stdio.h>
#include <string.h>

static const char *const kTimerUseNames[8] = {"reserved", "BIOS FRB2", "BIOS/POST", "OS Load",
                                              "SMS/OS",   "OEM",       "reserved",  "reserved"};
static const char *const kTimeoutActionNames[4] = {"no action", "hard reset", "power down", "power cycle"};
static const char *const kInterruptNames[4] = {"none", "SMI", "NMI / diagnostic interrupt", "messaging interrupt"};

const char *TimerUseName(uint8_t use)
{
    return kTimerUseNames[use & 0x07];
}

const char *TimeoutActionName(uint8_t action)
{
    return action < 4 ? kTimeoutActionNames[action] : "reserved";
}

const char *PreTimeoutInterruptName(uint8_t interrupt)
{
    return interrupt < 4 ? kInterruptNames[interrupt] : "reserved";
}

void ExpirationFlagName(uint8_t bit, char *text, size_t size)
{
    if (bit >= 1 && bit <= 5) {
        snprintf(text, size, "%s", TimerUseName(bit));
    } else {
        snprintf(text, size, "bit %u", static_cast<unsigned>(bit));
    }
}

void FormatExpirationFlags(uint8_t flags, char *text, size_t size)
{
    if (size == 0) return;
    text[0] = '\0';
    size_t used = 0;
    for (uint8_t bit = 0; bit < 8; ++bit) {
        if (!(flags & (1u << bit))) continue;
        char name[16];
        ExpirationFlagName(bit, name, sizeof(name));
        int written = snprintf(text + used, size - used, "%s%s", used ? ", " : "", name);
        if (written < 0 || static_cast<size_t>(written) >= size - used) return;
        used += static_cast<size_t>(written);
    }
    if (used == 0) snprintf(text, size, "none");
}

void FormatCountdown(uint16_t counts, char *text, size_t size)
{
    snprintf(text, size, "%u.%u s", counts / 10u, counts % 10u);
}
