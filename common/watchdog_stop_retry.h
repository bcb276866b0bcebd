#pragma once
// The stop request's retry: tried again after a pause until StopRetryDue says no more.
#include <windows.h>

#include "watchdog_stop.h"

// Calls stopOnce until it gives true or the retry ends, beforeRetry before each pause of pauseMs
// (given the time since the first try); gives the number of tries and whether the last succeeded.
template <typename StopOnce, typename BeforeRetry>
uint32_t RetryWatchdogStop(StopOnce stopOnce, BeforeRetry beforeRetry, bool *stopped,
                           uint32_t (*pauseMs)(uint64_t elapsedMs) = StopRetryPauseMs)
{
    ULONGLONG first = GetTickCount64();
    for (uint32_t tries = 1;; ++tries) {
        *stopped = stopOnce();
        if (*stopped || !StopRetryDue(tries, GetTickCount64() - first)) return tries;
        beforeRetry();
        Sleep(pauseMs(GetTickCount64() - first));
    }
}
