// The service's configuration rules and watchdog messages with every number the registry can
// hold: a judged value always lies in its range or is the repair value, the arm message carries
// it unchanged and its countdown fits, the heartbeat wait never wraps, and the interval in use
// always ends with one request's time-out before the watchdog acts, where any interval can.
#include "fuzz_input.h"
#include "configuration/service_configuration_rules.h"
#include "watchdog/heartbeat_rules.h"
#include "watchdog/watchdog_messages.h"
#include "watchdog/watchdog_names.h"

static uint32_t Field(const WatchdogSettings &settings, SettingsField field)
{
    switch (field) {
    case kFieldTimeoutAction:
        return settings.timeoutAction;
    case kFieldPreTimeoutAction:
        return settings.preTimeoutAction;
    case kFieldTimeoutValue:
        return settings.timeoutValue;
    case kFieldPreTimeoutInterval:
        return settings.preTimeoutInterval;
    }
    return 0;
}

// Each value's range, repair value and judged width as the service is documented to load them, in
// loading order; written out here, so that a wrong entry in the service's own table fails the target.
static const ConfigurationValueRule kDocumented[] = {
    {"PreTimeoutAction", kFieldPreTimeoutAction, 0, 3, 0, false},
    {"TimeoutAction", kFieldTimeoutAction, 0, 3, 3, true},
    {"TimeoutValue", kFieldTimeoutValue, 10, 6553, 3000, false},
    {"PreTimeoutInterval", kFieldPreTimeoutInterval, 0, 255, 0, false},
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzInput in(bytes, size);
    WatchdogSettings settings = {};
    uint8_t readFlags = in.Byte();
    FUZZ_CHECK(kLoadedValueCount == sizeof(kDocumented) / sizeof(kDocumented[0]));
    for (size_t i = 0; i < kLoadedValueCount; ++i) {
        const ConfigurationValueRule &rule = kLoadedValueRules[i];
        const ConfigurationValueRule &documented = kDocumented[i];
        FUZZ_CHECK(strcmp(rule.name, documented.name) == 0 && rule.field == documented.field);
        bool read = (readFlags >> i) & 1;
        uint32_t number = in.Word(), used = 0xDEADBEEF;
        bool kept = JudgeConfigurationValue(rule, read, number, &used);
        uint32_t judged = documented.judgedByLowestByte ? (number & 0xFF) : number;
        FUZZ_CHECK(kept == (read && judged >= documented.lowest && judged <= documented.highest));
        FUZZ_CHECK(used == (kept ? judged : documented.repairValue));
        StoreSettingsField(&settings, documented.field, used);
        FUZZ_CHECK(Field(settings, documented.field) == used);
    }
    uint8_t message[kSetWatchdogMessageLength];
    BuildArmMessage(settings, message);
    uint32_t countdown = settings.timeoutValue * 10u;
    FUZZ_CHECK(countdown <= 0xFFFF);
    const uint8_t fixed[] = {0x20, 0x18, 0x24, 0x04};
    FUZZ_CHECK(memcmp(message, fixed, sizeof(fixed)) == 0 && message[6] == 0x10);
    FUZZ_CHECK(message[4] == ((settings.preTimeoutAction << 4) | settings.timeoutAction));
    FUZZ_CHECK(message[5] == settings.preTimeoutInterval);
    FUZZ_CHECK(message[7] == (countdown & 0xFF) && message[8] == (countdown >> 8));

    // The interrupt is armed only with 30 s from a heartbeat to it; without one the interval is 0.
    WatchdogSettings armed = ArmedSettings(settings);
    FUZZ_CHECK(armed.preTimeoutAction == 0 ? armed.preTimeoutInterval == 0
                                           : armed.timeoutValue >= armed.preTimeoutInterval + kPreTimeoutRoomSeconds);

    // Settings straight from the input, as no loader would pass them, still build without fault.
    WatchdogSettings raw;
    in.Fill(reinterpret_cast<uint8_t *>(&raw), sizeof(raw));
    BuildArmMessage(raw, message);

    uint32_t configured = in.Word();
    bool intervalRead = in.Byte() & 1;
    uint32_t used = HeartbeatIntervalInUse(configured, intervalRead, settings);
    uint32_t deadline = WatchdogDeadlineSeconds(settings);
    FUZZ_CHECK(used >= 1);
    FUZZ_CHECK(deadline < 7 || used + 5 < deadline);  // a heartbeat waits up to 5 s for the BMC
    FUZZ_CHECK(!(intervalRead && configured != 0 && static_cast<uint64_t>(configured) + 5 < deadline) ||
               used == configured);

    // Any answer of Get Watchdog Timer decodes, compares and is named without fault.
    uint8_t answer[kWatchdogReadingLength];
    in.Fill(answer, sizeof(answer));
    WatchdogReading reading;
    if (DecodeWatchdogReading(answer, sizeof(answer), &reading)) {
        ArmedFieldDifference differences[kArmedFieldCount];
        FUZZ_CHECK(CompareWithArmMessage(message, reading, differences) <= kArmedFieldCount);
        char text[80];
        FormatExpirationFlags(reading.expirationFlags, text, sizeof(text));
        FormatCountdown(reading.presentCountdown, text, sizeof(text));
        FUZZ_CHECK(strlen(TimerUseName(reading.timerUse)) > 0);
    }

    uint32_t seconds = in.Word();
    uint64_t wanted = static_cast<uint64_t>(seconds) * 1000u;
    FUZZ_CHECK(HeartbeatWaitMilliseconds(seconds) == (wanted > 0xFFFFFFFEu ? 0xFFFFFFFEu : wanted));
    return 0;
}
