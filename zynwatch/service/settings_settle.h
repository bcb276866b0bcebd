#pragma once
// When changed settings are applied: Group Policy rewrites its values one by one and a script sets
// several in a row, so the service waits until no change has come for a moment, but never long,
// and applies them together. Plain logic without Win32 calls, so it also builds and is tested natively.
#include <stdint.h>

const uint32_t kSettleQuietMs = 500;     // no further change for this long: the burst is over
const uint32_t kSettleLongestMs = 3000;  // from the first change, however long the burst goes on
const uint32_t kNothingToSettle = 0xFFFFFFFFu;  // INFINITE: no change is waiting

struct SettingsSettle {
    bool pending;
    uint64_t firstMs;
    uint64_t lastMs;
};

// A change was signalled at nowMs (a steady clock in milliseconds).
void NoteSettingsChange(SettingsSettle *settle, uint64_t nowMs);

// Milliseconds until the changes are due, 0 when they are; kNothingToSettle when none waits.
uint32_t SettleWaitMs(const SettingsSettle &settle, uint64_t nowMs);
