#include "service/settings_settle.h"

void NoteSettingsChange(SettingsSettle *settle, uint64_t nowMs)
{
    if (!settle->pending) settle->firstMs = nowMs;
    settle->pending = true;
    settle->lastMs = nowMs;
}

uint32_t SettleWaitMs(const SettingsSettle &settle, uint64_t nowMs)
{
    if (!settle.pending) return kNothingToSettle;
    uint64_t quiet = settle.lastMs + kSettleQuietMs;
    uint64_t longest = settle.firstMs + kSettleLongestMs;
    uint64_t due = quiet < longest ? quiet : longest;
    return due > nowMs ? static_cast<uint32_t>(due - nowMs) : 0;
}
