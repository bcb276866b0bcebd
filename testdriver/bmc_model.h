/*
 * The simulated BMC behind the driver, by the IPMI v2.0 rules for the commands the system
 * uses: Get Device ID, Cold Reset, Set/Reset/Get Watchdog Timer. Pure C without kernel calls, so the
 * tests also run it natively; time comes in as performance-counter ticks.
 */
#ifndef BMC_MODEL_H
#define BMC_MODEL_H

#include "imb_contract.h"

#define IPMI_NETFN_APP 0x06
#define IPMI_CMD_GET_DEVICE_ID 0x01
#define IPMI_CMD_COLD_RESET 0x02
#define IPMI_CMD_RESET_WATCHDOG 0x22
#define IPMI_CMD_SET_WATCHDOG 0x24
#define IPMI_CMD_GET_WATCHDOG 0x25

#define IPMI_CC_OK 0x00
#define IPMI_CC_UNINITIALISED_WATCHDOG 0x80
#define IPMI_CC_INVALID_COMMAND 0xC1
#define IPMI_CC_BAD_LENGTH 0xC7
#define IPMI_CC_INVALID_FIELD 0xCC

typedef struct BmcModel {
    ImbSimBmcConfig config;
    ImbSimWatchdogState watchdog;
    int64_t frequency;     /* counter ticks per second */
    uint8_t preTimeoutFired;
} BmcModel;

#ifdef __cplusplus
extern "C" {
#endif

/* The identity a fresh BMC reports, and support for every pre-timeout interrupt. */
void BmcDefaultConfig(ImbSimBmcConfig *config);

void BmcReset(BmcModel *bmc, const ImbSimBmcConfig *config, int64_t frequency);

/* Records the pre-timeout and expiry that are due by now, at the times they were due. */
void BmcAdvance(BmcModel *bmc, int64_t now, int64_t systemTimeNow);

/* Answers one request; gives the response byte count, completion code included. */
uint32_t BmcHandleRequest(BmcModel *bmc, const ImbRequestPacket *request, ImbResponsePacket *response,
                          int64_t now, int64_t systemTimeNow);

#ifdef __cplusplus
}
#endif

#endif /* BMC_MODEL_H */
