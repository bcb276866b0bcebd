#include "watchdog/watchdog.h"

#include <windows.h>

#include "service_requests.h"
#include "session_table.h"

const BYTE kResponseCapacity = 64;
const BYTE kNoCompletionCode = 0xFF;

// The answer of one request: its data and how it ended.
struct WatchdogAnswer {
    BYTE data[kResponseCapacity];
    WatchdogOutcome outcome;
};

// Opens a session, exchanges the message, closes the session whatever the exchange gave.
static bool SendWatchdogMessage(const BYTE *message, BYTE length, WatchdogAnswer *answer)
{
    answer->outcome = {0, kNoCompletionCode, 0};
    DWORD session = 0;
    DWORD opened = OpenVX7Driver(&session);
    if (opened != ERROR_SUCCESS) {
        answer->outcome.error = opened;
        return false;
    }
    BYTE responseLength = kResponseCapacity;
    BYTE completionCode = kNoCompletionCode;
    DWORD result = SendVX7Message(session, message, length, answer->data, &responseLength, &completionCode, 0);
    DWORD closed = CloseVX7Driver(static_cast<LONG>(session));
    answer->outcome.error = result != ERROR_SUCCESS ? result : closed;
    answer->outcome.completionCode = completionCode;
    answer->outcome.length = result == ERROR_SUCCESS ? responseLength : 0;
    return OutcomeSucceeded(answer->outcome);
}

static bool SendAndTell(const BYTE *message, BYTE length, WatchdogOutcome *outcome)
{
    WatchdogAnswer answer;
    bool succeeded = SendWatchdogMessage(message, length, &answer);
    if (outcome != nullptr) *outcome = answer.outcome;
    return succeeded;
}

bool ArmWatchdog(const WatchdogSettings &settings, WatchdogOutcome *outcome)
{
    BYTE message[kSetWatchdogMessageLength];
    BuildArmMessage(settings, message);
    return SendAndTell(message, kSetWatchdogMessageLength, outcome);
}

bool ResetWatchdog(WatchdogOutcome *outcome)
{
    BYTE message[kResetWatchdogMessageLength];
    BuildResetMessage(message);
    return SendAndTell(message, kResetWatchdogMessageLength, outcome);
}

bool StopWatchdog(WatchdogOutcome *outcome)
{
    BYTE message[kSetWatchdogMessageLength];
    BuildStopMessage(message);
    return SendAndTell(message, kSetWatchdogMessageLength, outcome);
}

bool ReadWatchdogTimer(WatchdogReading *reading, WatchdogOutcome *outcome)
{
    BYTE message[kGetWatchdogMessageLength];
    BuildGetMessage(message);
    WatchdogAnswer answer;
    bool answered = SendWatchdogMessage(message, kGetWatchdogMessageLength, &answer);
    bool decoded = answered && DecodeWatchdogReading(answer.data, answer.outcome.length, reading);
    if (outcome != nullptr) *outcome = answer.outcome;
    return decoded;
}

bool ArmShutdownWatchdog(const WatchdogSettings &settings, uint16_t seconds, WatchdogOutcome *outcome)
{
    BYTE message[kSetWatchdogMessageLength];
    BuildShutdownArmMessage(settings, seconds, message);
    return SendAndTell(message, kSetWatchdogMessageLength, outcome);
}

bool ArmDrillWatchdog(uint16_t seconds, WatchdogOutcome *outcome)
{
    BYTE message[kSetWatchdogMessageLength];
    BuildDrillArmMessage(seconds, message);
    return SendAndTell(message, kSetWatchdogMessageLength, outcome);
}
