#include "test_helpers.h"

#include <cstdio>

std::string HexBytes(const uint8_t *bytes, size_t count)
{
    std::string text;
    char piece[4];
    for (size_t i = 0; i < count; ++i) {
        snprintf(piece, sizeof(piece), i == 0 ? "%02X" : " %02X", bytes[i]);
        text += piece;
    }
    return text;
}

// Handles the process holds. Wine's GetProcessHandleCount always reports 0; there the handle values
// the system accepts are counted instead (handles are numbered in steps of 4).
DWORD ProcessHandles()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
    DWORD flags;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

std::string DescribeServiceConfig2(DWORD level, const void *info)
{
    static const char *const kActions[] = {"none", "restart", "reboot", "command"};
    if (level == SERVICE_CONFIG_FAILURE_ACTIONS && info != nullptr) {
        const auto *failure = static_cast<const SERVICE_FAILURE_ACTIONSA *>(info);
        std::string text = "failure actions reset=" + std::to_string(failure->dwResetPeriod) +
                           " reboot=" + (failure->lpRebootMsg ? failure->lpRebootMsg : "-") +
                           " command=" + (failure->lpCommand ? failure->lpCommand : "-");
        for (DWORD i = 0; i < failure->cActions; ++i) {
            const SC_ACTION &action = failure->lpsaActions[i];
            text += std::string(" ") + (action.Type < 4 ? kActions[action.Type] : "?") + "/" +
                    std::to_string(action.Delay);
        }
        return text;
    }
    if (level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG && info != nullptr) {
        const auto *flag = static_cast<const SERVICE_FAILURE_ACTIONS_FLAG *>(info);
        return "failure actions flag " + std::to_string(flag->fFailureActionsOnNonCrashFailures);
    }
    return "level " + std::to_string(level);
}

bool JoinThreadsAt(const char *file, int line, const HANDLE *threads, DWORD count, DWORD limitMs)
{
    if (WaitForMultipleObjects(count, threads, TRUE, limitMs) == WAIT_OBJECT_0) return true;
    std::string running;
    for (DWORD i = 0; i < count; ++i) {
        if (WaitForSingleObject(threads[i], 0) == WAIT_OBJECT_0) continue;
        running += " " + std::to_string(i);
        TerminateThread(threads[i], ERROR_TIMEOUT);
    }
    ADD_FAILURE_AT(file, line) << "threads still running after " << limitMs << " ms:" << running;
    WaitForMultipleObjects(count, threads, TRUE, 5000);  // TerminateThread returns before the thread has ended
    return false;
}
