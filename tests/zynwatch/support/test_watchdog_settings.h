#pragma once
// Watchdog settings built field by field, for the native and the Wine tests of the messages.
#include "configuration/service_configuration_rules.h"

inline WatchdogSettings Settings(uint8_t timeoutAction, uint8_t preTimeoutAction, uint16_t timeoutValue,
                                 uint8_t preTimeoutInterval)
{
    WatchdogSettings settings = {};
    settings.timeoutAction = timeoutAction;
    settings.preTimeoutAction = preTimeoutAction;
    settings.timeoutValue = timeoutValue;
    settings.preTimeoutInterval = preTimeoutInterval;
    return settings;
}
