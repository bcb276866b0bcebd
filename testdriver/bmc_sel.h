/*
 * The simulated BMC's System Event Log, by the IPMI v2.0 rules: Get SEL Info, Reserve SEL, Get SEL
 * Entry, Add SEL Entry, Clear SEL, and the records the BMC adds itself (Platform Event Message,
 * its watchdog). Pure C without kernel calls; time comes in as FILETIME.
 */
#ifndef BMC_SEL_H
#define BMC_SEL_H

#include "imb_contract.h"
#include "ipmi_codes.h"

#define SEL_DEFAULT_CAPACITY IMBSIM_SEL_MAX_RECORDS

typedef struct BmcSel {
    uint16_t capacity; /* 0: no SEL */
    uint16_t count;
    uint16_t nextId;           /* the record ID the next record gets */
    uint16_t reservation;      /* in force, 0 for none */
    uint16_t lastReservation;  /* the last one given out */
    uint8_t overflow;
    uint8_t reserved;
    uint32_t lastAddition;     /* timestamps, seconds since 1970 */
    uint32_t lastErase;
    uint8_t records[IMBSIM_SEL_MAX_RECORDS][IMBSIM_SEL_RECORD_SIZE];
} BmcSel;

/* A record the BMC adds itself: the fields of a system event record after its timestamp. */
typedef struct SelEvent {
    uint8_t generator[2];
    uint8_t revision;
    uint8_t sensorType;
    uint8_t sensorNumber;
    uint8_t eventType;
    uint8_t data[3];
} SelEvent;

#ifdef __cplusplus
extern "C" {
#endif

/* An empty SEL of capacity records holding prefill old ones, the last of them at systemTimeNow. */
void SelReset(BmcSel *sel, const ImbSimSelConfig *config, int64_t systemTimeNow);

/* Seconds since 1970 of a FILETIME; 0 before 1970. */
uint32_t SelTimestamp(int64_t systemTime);

/* Adds a system event record at the time given; false, with the overflow flag set, when full. */
int SelAddEvent(BmcSel *sel, const SelEvent *event, int64_t systemTime);

/* Answers a Storage or Sensor/Event request about the SEL; gives the response byte count. */
uint32_t SelHandleRequest(BmcSel *sel, const ImbRequestPacket *request, ImbResponsePacket *response,
                          int64_t systemTimeNow);

#ifdef __cplusplus
}
#endif

#endif /* BMC_SEL_H */
