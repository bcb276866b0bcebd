/*
 * Contract between the simulated IMB driver and the tests: device names, request codes and
 * the packed records of the driver's send-message request and of its private control requests.
 * Builds in kernel mode (ntddk.h) and user mode (windows.h), from C and C++.
 */
#ifndef IMB_CONTRACT_H
#define IMB_CONTRACT_H

#include <stdint.h>

#define IMB_DEVICE_PATH_A "\\\\.\\imb"
#define IMB_DOS_DEVICE_NAME_W L"\\DosDevices\\imb"

/* The product's only request: one IPMI message to the BMC and back. */
#define IMB_IOCTL_SEND_MESSAGE 0x80102600u

/* Private control requests, buffered, any access; never logged as BMC requests. */
#define IMBSIM_CONTROL_CODE(function) ((0x8010u << 16) | ((uint32_t)(function) << 2))
#define IMBSIM_IOCTL_RESET IMBSIM_CONTROL_CODE(0xA00)            /* in: none */
#define IMBSIM_IOCTL_SET_BEHAVIOUR IMBSIM_CONTROL_CODE(0xA01)    /* in: ImbSimBehaviour */
#define IMBSIM_IOCTL_SET_BMC IMBSIM_CONTROL_CODE(0xA02)          /* in: ImbSimBmcConfig */
#define IMBSIM_IOCTL_READ_LOG IMBSIM_CONTROL_CODE(0xA03)         /* in: uint32_t first sequence; out: ImbSimLogHeader + entries */
#define IMBSIM_IOCTL_READ_WATCHDOG IMBSIM_CONTROL_CODE(0xA04)    /* out: ImbSimWatchdogState */
#define IMBSIM_IOCTL_READ_COUNTERS IMBSIM_CONTROL_CODE(0xA05)    /* out: ImbSimCounters */
#define IMBSIM_IOCTL_RELEASE_HELD IMBSIM_CONTROL_CODE(0xA06)     /* out: uint32_t requests released, may be left out */
#define IMBSIM_IOCTL_SET_SEL IMBSIM_CONTROL_CODE(0xA07)          /* in: ImbSimSelConfig; the SEL starts afresh */
#define IMBSIM_IOCTL_READ_SEL IMBSIM_CONTROL_CODE(0xA08)         /* in: uint32_t first index; out: ImbSimSelHeader + records */

/* Driver statuses of the IMB driver that callers map (completed as the request's status). */
#define IMB_STATUS_BUFFER_TOO_SMALL 0xE0070002u
#define IMB_STATUS_BUFFER_TOO_SMALL2 0xE0070003u
#define IMB_STATUS_OVERFLOW 0xE004000Cu
#define IMB_STATUS_TIMEOUT 0xE0040007u

/* A test-only OEM command of the simulated BMC: answers with the request data unchanged. */
#define IMBSIM_NETFN_ECHO 0x30
#define IMBSIM_CMD_ECHO 0x01

#define IMB_REQUEST_HEADER_SIZE 13
#define IMB_MAX_REQUEST_DATA 51
#define IMB_RESPONSE_SIZE 46

#pragma pack(push, 1)

typedef struct ImbRequestPacket {
    uint32_t flags;
    uint32_t timeoutMicroseconds;
    uint8_t responderAddress;
    uint8_t command;
    uint8_t networkFunction;
    uint8_t responderLun;
    uint8_t dataLength;
    uint8_t data[IMB_MAX_REQUEST_DATA];
} ImbRequestPacket;

typedef struct ImbResponsePacket {
    uint8_t completionCode;
    uint8_t data[IMB_RESPONSE_SIZE - 1];
} ImbResponsePacket;

/* Fields of ImbSimBehaviour that take effect. */
#define IMBSIM_SET_COMPLETION_CODE 0x01u /* answer with completionCode and no data; the BMC does nothing */
#define IMBSIM_SET_STATUS 0x02u          /* complete the request with status, no bytes */
#define IMBSIM_SET_BYTE_COUNT 0x04u      /* report byteCount bytes whatever was written */
#define IMBSIM_SET_DELAY 0x08u           /* answer after delayMs; longer than the packet's timeout: IMB_STATUS_TIMEOUT */
#define IMBSIM_RANDOM 0x10u              /* each request: normal, a random completion code or a random status */
#define IMBSIM_ONLY_COMMAND 0x20u        /* only requests with command byte `command` count; others as by default */
#define IMBSIM_HOLD 0x40u                /* pend the request, uncompleted until a release or a reset answers it from the BMC */
#define IMBSIM_HONOUR_CANCEL 0x80u       /* with IMBSIM_HOLD: a cancellation completes it with STATUS_CANCELLED; else ignored */

#define IMBSIM_EVERY_REQUEST 0xFFFFFFFFu

/* Behaviour for the next requestCount send-message requests (IMBSIM_EVERY_REQUEST: until reset). */
typedef struct ImbSimBehaviour {
    uint32_t requestCount;
    uint32_t fields;
    uint32_t completionCode;
    uint32_t status;
    uint32_t byteCount;
    uint32_t delayMs;
    uint32_t randomSeed;
    uint32_t skipCount; /* requests answered as by default before this behaviour starts; may be left out */
    uint32_t command;   /* with IMBSIM_ONLY_COMMAND; may be left out */
} ImbSimBehaviour;

/* The simulated BMC's identity and capabilities. */
typedef struct ImbSimBmcConfig {
    uint8_t deviceIdLength; /* data bytes of the Get Device ID answer, at most 45 */
    uint8_t deviceId[IMB_RESPONSE_SIZE - 1];
    uint8_t preTimeoutSupport; /* bit n set: pre-timeout interrupt n (1 SMI, 2 NMI, 3 messaging) supported */
    uint8_t quirks;            /* IMBSIM_QUIRK_* */
    uint8_t reserved[2];
} ImbSimBmcConfig;

/* Firmware that accepts a pre-timeout interrupt in Set Watchdog Timer and stores none. */
#define IMBSIM_QUIRK_DROPS_PRETIMEOUT 0x01u
/* Firmware whose countdown runs down to 0 and stays there, running: no expiry, flag, action or record. */
#define IMBSIM_QUIRK_NEVER_EXPIRES 0x02u
/* Firmware whose countdown falls at half the real pace, so it expires after twice the time. */
#define IMBSIM_QUIRK_HALF_PACE 0x04u

typedef struct ImbSimLogEntry {
    uint32_t sequence;
    uint32_t inputLength;
    uint32_t outputLength;
    uint32_t status;          /* the request's completion status */
    uint32_t reportedBytes;   /* the byte count reported to the caller */
    int64_t counter;          /* performance counter at arrival, the clock of QueryPerformanceCounter */
    int64_t completedCounter; /* performance counter at completion */
    int64_t systemTime;       /* FILETIME at arrival */
    uint8_t packet[64];       /* the first min(inputLength, 64) input bytes */
    uint8_t response[IMB_RESPONSE_SIZE];
    uint8_t reserved[2];
} ImbSimLogEntry;

typedef struct ImbSimLogHeader {
    uint32_t totalLogged;  /* requests logged since reset; sequences run 0..totalLogged-1 */
    uint32_t entryCount;   /* entries that follow */
    int64_t counterFrequency;
} ImbSimLogHeader;

#define IMBSIM_EVENT_PRETIMEOUT 1
#define IMBSIM_EVENT_EXPIRY 2

typedef struct ImbSimWatchdogEvent {
    int64_t counter;    /* when it happened, performance counter */
    int64_t systemTime; /* FILETIME */
    uint8_t kind;       /* IMBSIM_EVENT_* */
    uint8_t action;     /* pre-timeout interrupt or timeout action */
    uint8_t timerUse;
    uint8_t logged;     /* 1 unless the timer use's don't-log bit was set */
} ImbSimWatchdogEvent;

#define IMBSIM_MAX_EVENTS 32

typedef struct ImbSimWatchdogState {
    uint8_t timerUse;          /* as set, bit 6 reflects whether the timer runs */
    uint8_t timerActions;
    uint8_t preTimeoutInterval;
    uint8_t expirationFlags;
    uint16_t initialCountdown; /* 100 ms counts */
    uint16_t presentCountdown;
    uint8_t running;
    uint8_t everSet;           /* a Set Watchdog Timer has been accepted */
    uint8_t reserved[2];
    uint32_t setCount;
    uint32_t resetCount;
    int64_t lastStartCounter;
    uint32_t eventCount;       /* events since reset; the first IMBSIM_MAX_EVENTS are kept */
    uint32_t reserved2;
    ImbSimWatchdogEvent events[IMBSIM_MAX_EVENTS];
} ImbSimWatchdogState;

typedef struct ImbSimCounters {
    uint32_t opens;
    uint32_t closes;
    uint32_t sendRequests;
    uint32_t openHandles;
    uint32_t heldRequests;      /* held now, neither released nor cancelled */
    uint32_t cancelledRequests; /* held requests their cancellation completed, since reset */
} ImbSimCounters;

/* The System Event Log: 16-byte records, at most IMBSIM_SEL_MAX_RECORDS of them. */
#define IMBSIM_SEL_RECORD_SIZE 16
#define IMBSIM_SEL_MAX_RECORDS 2048

/* A SEL that starts afresh: its size, and old records already in it (of a temperature sensor). */
typedef struct ImbSimSelConfig {
    uint16_t capacity; /* records it holds, at most IMBSIM_SEL_MAX_RECORDS; 0: the BMC has no SEL */
    uint16_t prefill;  /* records already in it, at most capacity; as many as capacity: a full SEL */
    uint32_t reserved;
} ImbSimSelConfig;

typedef struct ImbSimSelHeader {
    uint16_t count;        /* records in the SEL */
    uint16_t capacity;
    uint16_t reservation;  /* the reservation ID in force, 0 for none */
    uint8_t overflow;      /* a record was dropped for want of room since the last clear */
    uint8_t reserved;
    uint32_t recordCount;  /* records that follow, from the first index asked for */
} ImbSimSelHeader;

#pragma pack(pop)

#endif /* IMB_CONTRACT_H */
