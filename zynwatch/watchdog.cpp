#include "watchdog.h"

#include <windows.h>

#include "service_requests.h"
#include "session_table.h"
#include "watchdog_messages.h"

const BYTE kResponseCapacity = 64;
const BYTE kNoCompletionCode = 0xFF;

// Opens a session, exchanges the message, closes the session whatever the exchange gave.
static bool SendWatchdogMessage(const BYTE *message, BYTE length)
{
    DWORD session = 0;
    if (OpenVX7Driver(&session) != ERROR_SUCCESS) return false;
    BYTE response[kResponseCapacity];
    BYTE responseLength = kResponseCapacity;
    BYTE completionCode = kNoCompletionCode;
    DWORD result = SendVX7Message(session, message, length, response, &responseLength, &completionCode, 0);
    DWORD closed = CloseVX7Driver(static_cast<LONG>(session));
    return result == ERROR_SUCCESS && completionCode == 0x00 && closed == ERROR_SUCCESS;
}

bool ArmWatchdog(const WatchdogSettings &settings)
{
    BYTE message[kSetWatchdogMessageLength];
    BuildArmMessage(settings, message);
    return SendWatchdogMessage(message, kSetWatchdogMessageLength);
}

bool ResetWatchdog()
{
    BYTE message[kResetWatchdogMessageLength];
    BuildResetMessage(message);
    return SendWatchdogMessage(message, kResetWatchdogMessageLength);
}

bool StopWatchdog()
{
    BYTE message[kSetWatchdogMessageLength];
    BuildStopMessage(message);
    return SendWatchdogMessage(message, kSetWatchdogMessageLength);
}
