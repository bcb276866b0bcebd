#include "bmc_model.h"

#include <string.h>

#define TIMER_USE_DONT_STOP 0x40
#define TIMER_USE_DONT_LOG 0x80
#define BMC_SLAVE_ADDRESS 0x20
#define EVENT_MESSAGE_REVISION 0x04
#define SENSOR_TYPE_WATCHDOG2 0x23
#define WATCHDOG_SENSOR_NUMBER 0x81
#define EVENT_TYPE_SENSOR_SPECIFIC 0x6F
#define WATCHDOG2_TIMER_INTERRUPT 0x08
#define EVENT_DATA2_IS_EXTENSION 0xC0 /* event data 1 bits 7:6: data 2 holds the sensor-specific extension */

void BmcDefaultConfig(ImbSimBmcConfig *config)
{
    static const uint8_t identity[] = {
        0x20,             /* device ID */
        0x81,             /* provides SDRs, device revision 1 */
        0x01, 0x23,       /* firmware 1.23 */
        0x02,             /* IPMI 2.0 */
        0xBF,             /* additional device support */
        0x4C, 0x1C, 0x00, /* manufacturer 7244 */
        0x10, 0x73,       /* product */
        0x00, 0x00, 0x00, 0x00,
    };
    memset(config, 0, sizeof(*config));
    config->deviceIdLength = sizeof(identity);
    memcpy(config->deviceId, identity, sizeof(identity));
    config->preTimeoutSupport = 0x0E;
}

void BmcReset(BmcModel *bmc, const ImbSimBmcConfig *config, int64_t frequency)
{
    const ImbSimSelConfig sel = {SEL_DEFAULT_CAPACITY, 0, 0};
    memset(bmc, 0, sizeof(*bmc));
    bmc->config = *config;
    bmc->frequency = frequency > 0 ? frequency : 10000000;
    SelReset(&bmc->sel, &sel, 0);
}

/* Counter ticks per second of the BMC's own clock, which runs at half pace in firmware that has it so. */
static int64_t BmcTicksPerSecond(const BmcModel *bmc)
{
    return (bmc->config.quirks & IMBSIM_QUIRK_HALF_PACE) ? bmc->frequency * 2 : bmc->frequency;
}

static int64_t CountsToTicks(const BmcModel *bmc, int64_t counts)
{
    return counts * BmcTicksPerSecond(bmc) / 10;
}

/* The Watchdog 2 record of an expiry (offset: the action taken) or of a pre-timeout interrupt. */
static void LogWatchdogEvent(BmcModel *bmc, uint8_t kind, uint8_t action, int64_t systemTime)
{
    const ImbSimWatchdogState *wd = &bmc->watchdog;
    uint8_t offset = kind == IMBSIM_EVENT_EXPIRY ? action : WATCHDOG2_TIMER_INTERRUPT;
    uint8_t interrupt = (wd->timerActions >> 4) & 0x07;
    SelEvent event = {{BMC_SLAVE_ADDRESS, 0x00}, EVENT_MESSAGE_REVISION, SENSOR_TYPE_WATCHDOG2, WATCHDOG_SENSOR_NUMBER,
                      EVENT_TYPE_SENSOR_SPECIFIC,
                      {(uint8_t)(EVENT_DATA2_IS_EXTENSION | offset), (uint8_t)((interrupt << 4) | (wd->timerUse & 0x07)),
                       0xFF}};
    SelAddEvent(&bmc->sel, &event, systemTime);
}

static void RecordEvent(BmcModel *bmc, uint8_t kind, uint8_t action, int64_t when, int64_t now,
                        int64_t systemTimeNow)
{
    ImbSimWatchdogState *wd = &bmc->watchdog;
    int64_t systemTime = systemTimeNow - (now - when) * 10000000 / bmc->frequency;
    if (wd->eventCount < IMBSIM_MAX_EVENTS) {
        ImbSimWatchdogEvent *event = &wd->events[wd->eventCount];
        event->counter = when;
        event->systemTime = systemTime;
        event->kind = kind;
        event->action = action;
        event->timerUse = wd->timerUse & 0x07;
        event->logged = (wd->timerUse & TIMER_USE_DONT_LOG) ? 0 : 1;
    }
    wd->eventCount++;
    if (!(wd->timerUse & TIMER_USE_DONT_LOG)) LogWatchdogEvent(bmc, kind, action, systemTime);
}

void BmcAdvance(BmcModel *bmc, int64_t now, int64_t systemTimeNow)
{
    ImbSimWatchdogState *wd = &bmc->watchdog;
    if (!wd->running) return;
    int64_t expiry = wd->lastStartCounter + CountsToTicks(bmc, wd->initialCountdown);
    uint8_t preInterrupt = (wd->timerActions >> 4) & 0x07;
    if (preInterrupt != 0 && !bmc->preTimeoutFired) {
        int64_t preTimeout = expiry - CountsToTicks(bmc, (int64_t)wd->preTimeoutInterval * 10);
        if (now >= preTimeout) {
            RecordEvent(bmc, IMBSIM_EVENT_PRETIMEOUT, preInterrupt, preTimeout, now, systemTimeNow);
            bmc->preTimeoutFired = 1;
        }
    }
    if (now >= expiry && (bmc->config.quirks & IMBSIM_QUIRK_NEVER_EXPIRES)) {
        wd->presentCountdown = 0;
        return;
    }
    if (now >= expiry) {
        RecordEvent(bmc, IMBSIM_EVENT_EXPIRY, wd->timerActions & 0x07, expiry, now, systemTimeNow);
        wd->running = 0;
        wd->presentCountdown = 0;
        wd->expirationFlags |= (uint8_t)(1u << (wd->timerUse & 0x07));
        return;
    }
    int64_t remainingTicks = expiry - now;
    int64_t perSecond = BmcTicksPerSecond(bmc);
    wd->presentCountdown = (uint16_t)((remainingTicks * 10 + perSecond - 1) / perSecond);
}

static uint32_t Answer(ImbResponsePacket *response, uint8_t code)
{
    response->completionCode = code;
    return 1;
}

static uint32_t SetWatchdog(BmcModel *bmc, const ImbRequestPacket *request, ImbResponsePacket *response,
                            int64_t now)
{
    ImbSimWatchdogState *wd = &bmc->watchdog;
    if (request->dataLength != 6) return Answer(response, IPMI_CC_BAD_LENGTH);
    const uint8_t *d = request->data;
    uint16_t countdown = (uint16_t)(d[4] | (d[5] << 8));
    uint8_t preInterrupt = (d[1] >> 4) & 0x07;
    if (preInterrupt != 0) {
        if (!(bmc->config.preTimeoutSupport & (1u << preInterrupt))) return Answer(response, IPMI_CC_INVALID_FIELD);
        if ((uint32_t)d[2] * 10 >= countdown) return Answer(response, IPMI_CC_INVALID_FIELD);
    }
    wd->timerUse = d[0] & (uint8_t)~TIMER_USE_DONT_STOP;
    wd->timerActions = (bmc->config.quirks & IMBSIM_QUIRK_DROPS_PRETIMEOUT) ? (uint8_t)(d[1] & 0x0F) : d[1];
    wd->preTimeoutInterval = d[2];
    wd->expirationFlags &= (uint8_t)~d[3];
    wd->initialCountdown = countdown;
    wd->presentCountdown = countdown;
    wd->everSet = 1;
    wd->setCount++;
    if (d[0] & TIMER_USE_DONT_STOP) {
        if (wd->running) {
            wd->lastStartCounter = now;
            bmc->preTimeoutFired = 0;
        }
    } else {
        wd->running = 0;
    }
    return Answer(response, IPMI_CC_OK);
}

static uint32_t ResetWatchdog(BmcModel *bmc, ImbResponsePacket *response, int64_t now)
{
    ImbSimWatchdogState *wd = &bmc->watchdog;
    if (!wd->everSet) return Answer(response, IPMI_CC_UNINITIALISED_WATCHDOG);
    wd->running = 1;
    wd->lastStartCounter = now;
    wd->presentCountdown = wd->initialCountdown;
    wd->resetCount++;
    bmc->preTimeoutFired = 0;
    return Answer(response, IPMI_CC_OK);
}

/* The BMC restarts its firmware: the watchdog forgets its settings and stops, so Reset answers
 * 0x80 until the next Set; the expiration flags, like the BMC's event log, survive. */
static uint32_t ColdReset(BmcModel *bmc, ImbResponsePacket *response)
{
    ImbSimWatchdogState *wd = &bmc->watchdog;
    wd->timerUse = 0;
    wd->timerActions = 0;
    wd->preTimeoutInterval = 0;
    wd->initialCountdown = 0;
    wd->presentCountdown = 0;
    wd->running = 0;
    wd->everSet = 0;
    bmc->preTimeoutFired = 0;
    return Answer(response, IPMI_CC_OK);
}

static uint32_t GetWatchdog(const BmcModel *bmc, ImbResponsePacket *response)
{
    const ImbSimWatchdogState *wd = &bmc->watchdog;
    response->completionCode = IPMI_CC_OK;
    response->data[0] = (uint8_t)(wd->timerUse | (wd->running ? TIMER_USE_DONT_STOP : 0));
    response->data[1] = wd->timerActions;
    response->data[2] = wd->preTimeoutInterval;
    response->data[3] = wd->expirationFlags;
    response->data[4] = (uint8_t)(wd->initialCountdown & 0xFF);
    response->data[5] = (uint8_t)(wd->initialCountdown >> 8);
    response->data[6] = (uint8_t)(wd->presentCountdown & 0xFF);
    response->data[7] = (uint8_t)(wd->presentCountdown >> 8);
    return 9;
}

uint32_t BmcHandleRequest(BmcModel *bmc, const ImbRequestPacket *request, ImbResponsePacket *response,
                          int64_t now, int64_t systemTimeNow)
{
    memset(response, 0, sizeof(*response));
    BmcAdvance(bmc, now, systemTimeNow);
    if (request->networkFunction == IMBSIM_NETFN_ECHO && request->command == IMBSIM_CMD_ECHO) {
        uint8_t length = request->dataLength;
        if (length > sizeof(response->data)) length = sizeof(response->data);
        response->completionCode = IPMI_CC_OK;
        memcpy(response->data, request->data, length);
        return 1u + length;
    }
    if (request->networkFunction == IPMI_NETFN_STORAGE || request->networkFunction == IPMI_NETFN_SENSOR_EVENT) {
        return SelHandleRequest(&bmc->sel, request, response, systemTimeNow);
    }
    if (request->networkFunction != IPMI_NETFN_APP) return Answer(response, IPMI_CC_INVALID_COMMAND);
    switch (request->command) {
    case IPMI_CMD_GET_DEVICE_ID: {
        uint8_t length = bmc->config.deviceIdLength;
        if (length > sizeof(response->data)) length = sizeof(response->data);
        response->completionCode = IPMI_CC_OK;
        memcpy(response->data, bmc->config.deviceId, length);
        return 1u + length;
    }
    case IPMI_CMD_COLD_RESET:
        return ColdReset(bmc, response);
    case IPMI_CMD_SET_WATCHDOG:
        return SetWatchdog(bmc, request, response, now);
    case IPMI_CMD_RESET_WATCHDOG:
        return ResetWatchdog(bmc, response, now);
    case IPMI_CMD_GET_WATCHDOG:
        return GetWatchdog(bmc, response);
    default:
        return Answer(response, IPMI_CC_INVALID_COMMAND);
    }
}
