#include "heartbeat_rules.h"

uint32_t WatchdogDeadlineSeconds(const WatchdogSettings &settings)
{
    uint32_t lead = settings.preTimeoutAction != 0 ? settings.preTimeoutInterval : 0;
    return settings.timeoutValue > lead ? settings.timeoutValue - lead : 0;
}

uint32_t HeartbeatIntervalInUse(uint32_t configured, bool read, const WatchdogSettings &settings)
{
    uint32_t interval = (read && configured != 0) ? configured : kFallbackHeartbeatSeconds;
    uint32_t deadline = WatchdogDeadlineSeconds(settings);
    // 64 bits: a configured interval near 2^32 must not wrap below the deadline.
    if (static_cast<uint64_t>(interval) + kRequestTimeoutSeconds < deadline) return interval;
    uint32_t safe = deadline > kRequestTimeoutSeconds ? (deadline - kRequestTimeoutSeconds) / 2 : 0;
    return safe > kFallbackHeartbeatSeconds ? safe : kFallbackHeartbeatSeconds;
}

bool IntervalWarningDue(IntervalWatch *watch, uint32_t configured, bool read, uint32_t used)
{
    bool changed = !watch->seen || watch->read != read || watch->configured != configured;
    watch->seen = true;
    watch->read = read;
    watch->configured = configured;
    bool replaced = read && configured != 0 && used != configured;
    return replaced && changed;
}

HealthChange NoteHeartbeat(HeartbeatHealth *health, bool succeeded, uint32_t *failures)
{
    if (!succeeded) {
        ++health->failures;
        return health->failures == 1 ? kHealthFirstFailure : kHealthUnchanged;
    }
    *failures = health->failures;
    health->failures = 0;
    return *failures != 0 ? kHealthRecovered : kHealthUnchanged;
}
