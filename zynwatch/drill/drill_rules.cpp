#include "drill/drill_rules.h"

const uint32_t kCountMs = 100;
const uint32_t kPaceTolerancePercent = 10;

bool DrillSecondsValid(uint32_t seconds)
{
    return seconds >= kDrillLeastSeconds && seconds <= kDrillMostSeconds;
}

uint64_t DrillReadingDueMs(uint32_t seconds, uint32_t index)
{
    return static_cast<uint64_t>(seconds) * 1000 * index / kDrillReadings;
}

uint64_t DrillExpiryDeadlineMs(uint32_t seconds)
{
    return static_cast<uint64_t>(seconds) * 1000 * (100 + kPaceTolerancePercent) / 100 + 2000;
}

DrillPace JudgeDrillPace(const DrillSample &first, const DrillSample &last)
{
    DrillPace pace = {};
    uint64_t fall = first.counts > last.counts ? static_cast<uint64_t>(first.counts - last.counts) * kCountMs : 0;
    uint64_t firstMiddle = (first.sentMs + first.answeredMs) / 2, lastMiddle = (last.sentMs + last.answeredMs) / 2;
    uint64_t elapsed = lastMiddle > firstMiddle ? lastMiddle - firstMiddle : 0;
    uint64_t shortest = last.sentMs > first.answeredMs ? last.sentMs - first.answeredMs : 0;
    uint64_t longest = last.answeredMs > first.sentMs ? last.answeredMs - first.sentMs : 0;
    pace.fallMs = static_cast<uint32_t>(fall);
    pace.elapsedMs = static_cast<uint32_t>(elapsed);
    pace.perMille = elapsed != 0 ? static_cast<uint32_t>(fall * 1000 / elapsed) : 0;
    // Two rounded countdowns are at most one count apart from the true fall.
    bool fastEnough = (fall + kCountMs) * 100 >= shortest * (100 - kPaceTolerancePercent);
    bool slowEnough = fall * 100 <= longest * (100 + kPaceTolerancePercent) + kCountMs * 100;
    pace.within = elapsed != 0 && fastEnough && slowEnough;
    return pace;
}

bool ReadingIsTheDrills(const WatchdogReading &reading, uint32_t seconds)
{
    return ReadingTimerUse(reading) == kTimerUseSmsOs && (reading.timerActions & 0x77) == 0 &&
           reading.initialCountdown == seconds * 10;
}

bool ReadingExpired(const WatchdogReading &reading)
{
    return !ReadingRunning(reading) && (reading.expirationFlags & kSmsOsExpirationFlag) != 0;
}
