#include "watchdog/heartbeat_rules.h"

bool PreTimeoutLacksRoom(const WatchdogSettings &configured)
{
    if (configured.preTimeoutAction == 0) return false;
    return configured.timeoutValue < configured.preTimeoutInterval + kPreTimeoutRoomSeconds;
}

WatchdogSettings ArmedSettings(const WatchdogSettings &configured)
{
    WatchdogSettings armed = configured;
    if (configured.preTimeoutAction == 0 || PreTimeoutLacksRoom(configured)) {
        armed.preTimeoutAction = 0;
        armed.preTimeoutInterval = 0;
    }
    return armed;
}

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

uint32_t PauseAfterHeartbeat(uint32_t intervalInUse, bool succeeded)
{
    if (succeeded || intervalInUse < kRetryPauseSeconds) return intervalInUse;
    return kRetryPauseSeconds;
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

uint32_t SuspendStopPauseMs(uint64_t elapsedMs)
{
    return elapsedMs < kSuspendStopWindowMs ? kSuspendStopPauseMs : kStopRetryPauseMs;
}

HealthChange NoteHeartbeat(HeartbeatHealth *health, bool succeeded, uint64_t nowMs, uint32_t *failures)
{
    if (!succeeded) {
        if (health->failures++ != 0) return kHealthUnchanged;
        health->failingSinceMs = nowMs;
        return kHealthFirstFailure;
    }
    *failures = health->failures;
    health->failures = 0;
    health->lastSuccessMs = nowMs;
    health->lastingReported = false;
    return *failures != 0 ? kHealthRecovered : kHealthUnchanged;
}

uint64_t LastingFailureMs(const WatchdogSettings &settings)
{
    uint64_t third = static_cast<uint64_t>(WatchdogDeadlineSeconds(settings)) * 1000 / 3;
    return third < kLastingFailureMostMs ? third : kLastingFailureMostMs;
}

bool LastingFailureDue(HeartbeatHealth *health, const WatchdogSettings &settings, uint64_t nowMs)
{
    if (health->failures == 0 || health->lastingReported) return false;
    if (nowMs - health->failingSinceMs < LastingFailureMs(settings)) return false;
    health->lastingReported = true;
    return true;
}

uint32_t SecondsUntilTimeout(const HeartbeatHealth &health, const WatchdogSettings &settings, uint64_t nowMs)
{
    uint64_t endsMs = health.lastSuccessMs + static_cast<uint64_t>(settings.timeoutValue) * 1000;
    return endsMs > nowMs ? static_cast<uint32_t>((endsMs - nowMs) / 1000) : 0;
}

// True when no entry of this kind was written within the last hour; notes it as written then.
static bool WriteNow(bool *written, uint64_t *writtenMs, uint64_t nowMs)
{
    if (*written && nowMs - *writtenMs < kHealthEntryPeriodMs) return false;
    *written = true;
    *writtenMs = nowMs;
    return true;
}

bool HealthEntryDue(HealthLog *log, HealthChange change, uint64_t nowMs, UnwrittenHealth *unwritten, bool forced)
{
    if (change == kHealthUnchanged) return false;
    bool failure = change == kHealthFirstFailure;
    if (forced) (failure ? log->failureWritten : log->recoveryWritten) = false;
    bool due = failure ? WriteNow(&log->failureWritten, &log->failureWrittenMs, nowMs)
                       : WriteNow(&log->recoveryWritten, &log->recoveryWrittenMs, nowMs);
    if (!due) {
        ++(failure ? log->unwrittenFailures : log->unwrittenRecoveries);
        return false;
    }
    *unwritten = {log->unwrittenFailures, log->unwrittenRecoveries};
    log->unwrittenFailures = 0;
    log->unwrittenRecoveries = 0;
    return true;
}

bool WithheldTimerNeedsRearm(const WatchdogReading &reading)
{
    return !ReadingRunning(reading) && (reading.expirationFlags & kSmsOsExpirationFlag) == 0;
}
