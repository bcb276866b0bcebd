#include "bmc_watchdog_stop.h"

#include "../common/service_identity.h"
#include "../common/watchdog_stop_retry.h"
#include "console.h"
#include "setup_codes.h"
#include "setup_paths.h"
#include "vx7_library.h"

const BYTE kResponseCapacity = 64;
const BYTE kNoCompletionCode = 0xFF;

// How a stop request ended: the error of the session or the exchange, else the completion code.
struct StopEnd {
    DWORD error;
    BYTE completionCode;
};

// One stop request in a session of its own, as the service sends it.
static bool SendStopOnce(const Vx7Entries &vx7, StopEnd *end)
{
    DWORD session = 0;
    end->completionCode = kNoCompletionCode;
    end->error = vx7.openDriver(&session);
    if (end->error != ERROR_SUCCESS) return false;
    const BYTE *message = kStopWatchdogMessage;
    BYTE response[kResponseCapacity];
    BYTE length = sizeof(response);
    DWORD sent = vx7.sendRequest(session, message[1], message[2], message + kStopWatchdogHeaderLength,
                                 kStopWatchdogMessageLength - kStopWatchdogHeaderLength, message[0], response, &length,
                                 &end->completionCode);
    DWORD closed = vx7.closeDriver(static_cast<LONG>(session));
    end->error = sent != ERROR_SUCCESS ? sent : closed;
    return end->error == ERROR_SUCCESS && end->completionCode == 0x00;
}

static void SayWatchdogMayRun(const StopEnd &end, uint32_t tries)
{
    char cause[48];
    DescribeRequestEnd(end.error, end.completionCode, cause, sizeof(cause));
    ConsolePrint(kWatchdogStopFailedFormat, cause, static_cast<unsigned long>(tries));
    ConsolePrint("Nothing is uninstalled: the timer may still run, and only the heartbeats of the %s keep the "
                 "BMC from resetting this server. Start the service again, or stop the timer with a BMC tool, "
                 "then uninstall.\n",
                 kServiceDisplayName);
}

bool StopBmcWatchdog(BYTE mode)
{
    UniqueModule library;
    Vx7Entries vx7;
    StopEnd end = {0, kNoCompletionCode};
    uint32_t tries = 0;
    bool stopped = false;
    if (LoadVx7Library(g_setupPaths.installedLibrary, &library, &vx7) == kExitInstalled) {
        tries = RetryWatchdogStop([&] { return SendStopOnce(vx7, &end); }, [] {}, &stopped);
    } else {
        end.error = GetLastError();
    }
    if (!stopped && !IsSilent(mode)) SayWatchdogMayRun(end, tries);
    return stopped;
}
