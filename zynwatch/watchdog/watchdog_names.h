#pragma once
// The names of the watchdog's fields as administrators read them in the event log and in the
// status report. Plain logic without Win32 calls, so it also builds and is tested natively.
#include <stddef.h>
#include <stdint.h>

// "BIOS FRB2", "BIOS/POST", "OS Load", "SMS/OS", "OEM"; "reserved" for 0, 6 and 7.
const char *TimerUseName(uint8_t use);

// "no action", "hard reset", "power down", "power cycle"; "reserved" for 4 to 7.
const char *TimeoutActionName(uint8_t action);

// "none", "SMI", "NMI / diagnostic interrupt", "messaging interrupt"; "reserved" for 4 to 7.
const char *PreTimeoutInterruptName(uint8_t interrupt);

// The name of one bit of the expiration flags: its timer use, or "bit n" for a reserved bit.
void ExpirationFlagName(uint8_t bit, char *text, size_t size);

// The expired timer uses of the flags byte joined by ", ", or "none"; reserved bits are named
// by their number.
void FormatExpirationFlags(uint8_t flags, char *text, size_t size);

// A countdown in 100 ms counts as seconds with one decimal: "300.0 s", "0.1 s", "6553.5 s".
void FormatCountdown(uint16_t counts, char *text, size_t size);
