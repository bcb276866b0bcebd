#include "configuration/service_configuration_rules.h"

#include <string.h>

const ConfigurationValueRule kLoadedValueRules[kLoadedValueCount] = {
    {"PreTimeoutAction", kFieldPreTimeoutAction, 0, 3, 0, false},
    {"TimeoutAction", kFieldTimeoutAction, 0, 3, 3, true},
    {"TimeoutValue", kFieldTimeoutValue, 10, 6553, 3000, false},
    {"PreTimeoutInterval", kFieldPreTimeoutInterval, 0, 255, 0, false},
};

// "PretimeoutAction" in this letter case is how the install has always written it.
const InstalledValue kInstalledValues[kInstalledValueCount] = {
    {kTimeoutActionValue, kInstallTimeoutAction},
    {"PretimeoutAction", kInstallPreTimeoutAction},
    {kTimeoutValueValue, kInstallTimeoutValue},
    {kPreTimeoutIntervalValue, kInstallPreTimeoutInterval},
    {kHeartbeatIntervalValue, kInstallHeartbeatInterval},
};

static_assert(sizeof(kServiceDescription) <= kDescriptionBlockSize, "the description fits its block");

const uint32_t kLargestFiniteWait = 0xFFFFFFFEu;  // one below INFINITE

void BuildDescriptionBlock(uint8_t block[kDescriptionBlockSize])
{
    memset(block, 0, kDescriptionBlockSize);
    memcpy(block, kServiceDescription, sizeof(kServiceDescription));
}

bool JudgeConfigurationValue(const ConfigurationValueRule &rule, bool read, uint32_t number,
                             uint32_t *used)
{
    uint32_t judged = rule.judgedByLowestByte ? (number & 0xFFu) : number;
    if (read && judged >= rule.lowest && judged <= rule.highest) {
        *used = judged;
        return true;
    }
    *used = rule.repairValue;
    return false;
}

void StoreSettingsField(WatchdogSettings *settings, SettingsField field, uint32_t value)
{
    switch (field) {
    case kFieldTimeoutAction:
        settings->timeoutAction = static_cast<uint8_t>(value);
        break;
    case kFieldPreTimeoutAction:
        settings->preTimeoutAction = static_cast<uint8_t>(value);
        break;
    case kFieldTimeoutValue:
        settings->timeoutValue = static_cast<uint16_t>(value);
        break;
    case kFieldPreTimeoutInterval:
        settings->preTimeoutInterval = static_cast<uint8_t>(value);
        break;
    }
}

uint32_t InstalledPreTimeoutInterval(uint8_t preTimeoutAction)
{
    return preTimeoutAction != 0 ? kInstallPreTimeoutLead : kInstallPreTimeoutInterval;
}

uint16_t JudgeShutdownTimeout(bool read, uint32_t number)
{
    bool inRange = read && number >= kShutdownTimeoutLowest && number <= kShutdownTimeoutHighest;
    return inRange ? static_cast<uint16_t>(number) : 0;
}

uint32_t HeartbeatWaitMilliseconds(uint32_t seconds)
{
    uint64_t milliseconds = static_cast<uint64_t>(seconds) * 1000u;
    return milliseconds > kLargestFiniteWait ? kLargestFiniteWait : static_cast<uint32_t>(milliseconds);
}
