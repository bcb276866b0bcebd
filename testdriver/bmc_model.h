/*
 * The simulated BMC behind the driver, by the IPMI v2.0 rules for the commands the system
 * uses: Get Device ID, Cold Reset, Set/Reset/Get Watchdog Timer, and the System Event Log (bmc_sel.h),
 * where its watchdog records what it did. Pure C without kernel calls, so the tests also run it
 * natively; time comes in as performance-counter ticks and FILETIME.
 */
#ifndef BMC_MODEL_H
#define BMC_MODEL_H

#include "bmc_sel.h"
#include "imb_contract.h"
#include "ipmi_codes.h"

typedef struct BmcModel {
    ImbSimBmcConfig config;
    ImbSimWatchdogState watchdog;
    int64_t frequency;     /* counter ticks per second */
    uint8_t preTimeoutFired;
    BmcSel sel;
} BmcModel;

#ifdef __cplusplus
extern "C" {
#endif

/* The identity a fresh BMC reports, and support for every pre-timeout interrupt. */
void BmcDefaultConfig(ImbSimBmcConfig *config);

/* A fresh BMC with an empty SEL of the default size. */
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
