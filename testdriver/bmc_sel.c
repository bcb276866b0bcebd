#include "bmc_sel.h"

#include <string.h>

#define SEL_VERSION 0x51             /* IPMI v2.0 */
#define SEL_RESERVE_SUPPORTED 0x02   /* Get SEL Info's operation support: Reserve SEL */
#define SEL_OVERFLOW_FLAG 0x80
#define RECORD_TYPE_SYSTEM_EVENT 0x02
#define RECORD_TYPE_OEM_TIMESTAMPED 0xC0
#define RECORD_TYPE_OEM_PLAIN 0xE0
#define UNIX_EPOCH_FILETIME 116444736000000000LL
#define FILETIME_SECOND 10000000LL

uint32_t SelTimestamp(int64_t systemTime)
{
    if (systemTime < UNIX_EPOCH_FILETIME) return 0;
    return (uint32_t)((systemTime - UNIX_EPOCH_FILETIME) / FILETIME_SECOND);
}

static void PutLe16(uint8_t *bytes, uint16_t value)
{
    bytes[0] = (uint8_t)(value & 0xFF);
    bytes[1] = (uint8_t)(value >> 8);
}

static uint16_t Le16(const uint8_t *bytes)
{
    return (uint16_t)(bytes[0] | (bytes[1] << 8));
}

static void PutLe32(uint8_t *bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[i] = (uint8_t)(value >> (8 * i));
}

/* Record IDs 0000h and FFFFh name the first and the last record, so no record has them. */
static uint16_t TakeRecordId(BmcSel *sel)
{
    uint16_t id = sel->nextId;
    sel->nextId = (uint16_t)(id >= 0xFFFE ? 1 : id + 1);
    return id;
}

/* Stores a record whose ID the BMC gives; any addition cancels the reservation. */
static int Append(BmcSel *sel, uint8_t record[IMBSIM_SEL_RECORD_SIZE], uint32_t timestamp)
{
    if (sel->count >= sel->capacity) {
        sel->overflow = 1;
        return 0;
    }
    PutLe16(record, TakeRecordId(sel));
    memcpy(sel->records[sel->count++], record, IMBSIM_SEL_RECORD_SIZE);
    sel->lastAddition = timestamp;
    sel->reservation = 0;
    return 1;
}

int SelAddEvent(BmcSel *sel, const SelEvent *event, int64_t systemTime)
{
    uint8_t record[IMBSIM_SEL_RECORD_SIZE];
    uint32_t timestamp = SelTimestamp(systemTime);
    record[2] = RECORD_TYPE_SYSTEM_EVENT;
    PutLe32(record + 3, timestamp);
    memcpy(record + 7, event->generator, 2);
    record[9] = event->revision;
    record[10] = event->sensorType;
    record[11] = event->sensorNumber;
    record[12] = event->eventType;
    memcpy(record + 13, event->data, 3);
    return Append(sel, record, timestamp);
}

/* Old threshold events of a temperature sensor, a minute apart, the last one now. */
void SelReset(BmcSel *sel, const ImbSimSelConfig *config, int64_t systemTimeNow)
{
    const SelEvent temperature = {{0x20, 0x00}, 0x04, 0x01, 0x30, 0x01, {0x07, 0xFF, 0xFF}};
    memset(sel, 0, sizeof(*sel));
    sel->capacity = config->capacity > IMBSIM_SEL_MAX_RECORDS ? IMBSIM_SEL_MAX_RECORDS : config->capacity;
    sel->nextId = 1;
    uint16_t prefill = config->prefill > sel->capacity ? sel->capacity : config->prefill;
    for (uint16_t i = 0; i < prefill; ++i) {
        SelAddEvent(sel, &temperature, systemTimeNow - (int64_t)(prefill - 1 - i) * 60 * FILETIME_SECOND);
    }
}

static uint32_t Answer(ImbResponsePacket *response, uint8_t code)
{
    response->completionCode = code;
    return 1;
}

static uint32_t GetInfo(const BmcSel *sel, ImbResponsePacket *response)
{
    uint32_t freeBytes = (uint32_t)(sel->capacity - sel->count) * IMBSIM_SEL_RECORD_SIZE;
    uint8_t *d = response->data;
    d[0] = SEL_VERSION;
    PutLe16(d + 1, sel->count);
    PutLe16(d + 3, (uint16_t)(freeBytes > 0xFFFF ? 0xFFFF : freeBytes));
    PutLe32(d + 5, sel->lastAddition);
    PutLe32(d + 9, sel->lastErase);
    d[13] = (uint8_t)(SEL_RESERVE_SUPPORTED | (sel->overflow ? SEL_OVERFLOW_FLAG : 0));
    response->completionCode = IPMI_CC_OK;
    return 1 + 14;
}

static uint32_t Reserve(BmcSel *sel, ImbResponsePacket *response)
{
    sel->lastReservation = (uint16_t)(sel->lastReservation == 0xFFFF ? 1 : sel->lastReservation + 1);
    sel->reservation = sel->lastReservation;
    PutLe16(response->data, sel->reservation);
    response->completionCode = IPMI_CC_OK;
    return 1 + 2;
}

/* The index of the record 0000h (first), FFFFh (last) or another ID names; -1 for none. */
static int FindRecord(const BmcSel *sel, uint16_t id)
{
    if (sel->count == 0) return -1;
    if (id == 0x0000) return 0;
    if (id == 0xFFFF) return sel->count - 1;
    for (int i = 0; i < sel->count; ++i) {
        if (Le16(sel->records[i]) == id) return i;
    }
    return -1;
}

/* A partial read (an offset into the record) needs the reservation in force; a whole one none. */
static uint32_t GetEntry(const BmcSel *sel, const ImbRequestPacket *request, ImbResponsePacket *response)
{
    const uint8_t *d = request->data;
    if (request->dataLength != 6) return Answer(response, IPMI_CC_BAD_LENGTH);
    uint8_t offset = d[4];
    if (offset != 0 && (sel->reservation == 0 || Le16(d) != sel->reservation)) {
        return Answer(response, IPMI_CC_RESERVATION_CANCELLED);
    }
    int index = FindRecord(sel, Le16(d + 2));
    if (index < 0) return Answer(response, IPMI_CC_NOT_PRESENT);
    if (offset >= IMBSIM_SEL_RECORD_SIZE) return Answer(response, IPMI_CC_PARAMETER_OUT_OF_RANGE);
    uint32_t length = d[5] == 0xFF ? IMBSIM_SEL_RECORD_SIZE - offset : d[5];
    if (offset + length > IMBSIM_SEL_RECORD_SIZE) return Answer(response, IPMI_CC_CANNOT_RETURN_BYTES);
    PutLe16(response->data, index + 1 < sel->count ? Le16(sel->records[index + 1]) : 0xFFFF);
    memcpy(response->data + 2, sel->records[index] + offset, length);
    response->completionCode = IPMI_CC_OK;
    return 1 + 2 + length;
}

/* The BMC gives the record its ID and, unless it is an OEM record without one, its timestamp. */
static uint32_t AddEntry(BmcSel *sel, const ImbRequestPacket *request, ImbResponsePacket *response,
                         int64_t systemTimeNow)
{
    uint8_t record[IMBSIM_SEL_RECORD_SIZE];
    if (request->dataLength != IMBSIM_SEL_RECORD_SIZE) return Answer(response, IPMI_CC_BAD_LENGTH);
    memcpy(record, request->data, sizeof(record));
    uint8_t type = record[2];
    if (type != RECORD_TYPE_SYSTEM_EVENT && type < RECORD_TYPE_OEM_TIMESTAMPED) {
        return Answer(response, IPMI_CC_RECORD_TYPE_UNSUPPORTED);
    }
    uint32_t timestamp = SelTimestamp(systemTimeNow);
    if (type < RECORD_TYPE_OEM_PLAIN) PutLe32(record + 3, timestamp);
    if (!Append(sel, record, timestamp)) return Answer(response, IPMI_CC_OUT_OF_SPACE);
    memcpy(response->data, record, 2);
    response->completionCode = IPMI_CC_OK;
    return 1 + 2;
}

/* Reservation, 'C' 'L' 'R', then AAh to erase or 00h for the erasure's progress; the erase
 * completes at once and cancels the reservation. */
static uint32_t Clear(BmcSel *sel, const ImbRequestPacket *request, ImbResponsePacket *response,
                      int64_t systemTimeNow)
{
    const uint8_t *d = request->data;
    if (request->dataLength != 6) return Answer(response, IPMI_CC_BAD_LENGTH);
    if (sel->reservation == 0 || Le16(d) != sel->reservation) return Answer(response, IPMI_CC_RESERVATION_CANCELLED);
    if (d[2] != 'C' || d[3] != 'L' || d[4] != 'R' || (d[5] != 0xAA && d[5] != 0x00)) {
        return Answer(response, IPMI_CC_INVALID_FIELD);
    }
    if (d[5] == 0xAA) {
        sel->count = 0;
        sel->nextId = 1;
        sel->overflow = 0;
        sel->reservation = 0;
        sel->lastErase = SelTimestamp(systemTimeNow);
    }
    response->data[0] = 0x01; /* erasure completed */
    response->completionCode = IPMI_CC_OK;
    return 1 + 1;
}

/* From system software the request starts with its generator ID; event data 2 and 3 may be left
 * out and are then unspecified (FFh). The record's channel is 0, that of the system interface. */
static uint32_t PlatformEvent(BmcSel *sel, const ImbRequestPacket *request, ImbResponsePacket *response,
                              int64_t systemTimeNow)
{
    const uint8_t *d = request->data;
    if (request->dataLength < 6 || request->dataLength > 8) return Answer(response, IPMI_CC_BAD_LENGTH);
    SelEvent event = {{d[0], 0x00}, d[1], d[2], d[3], d[4], {d[5], 0xFF, 0xFF}};
    if (request->dataLength > 6) event.data[1] = d[6];
    if (request->dataLength > 7) event.data[2] = d[7];
    if (!SelAddEvent(sel, &event, systemTimeNow)) return Answer(response, IPMI_CC_OUT_OF_SPACE);
    return Answer(response, IPMI_CC_OK);
}

uint32_t SelHandleRequest(BmcSel *sel, const ImbRequestPacket *request, ImbResponsePacket *response,
                          int64_t systemTimeNow)
{
    if (sel->capacity == 0) return Answer(response, IPMI_CC_INVALID_COMMAND);
    if (request->networkFunction == IPMI_NETFN_SENSOR_EVENT) {
        if (request->command == IPMI_CMD_PLATFORM_EVENT) return PlatformEvent(sel, request, response, systemTimeNow);
        return Answer(response, IPMI_CC_INVALID_COMMAND);
    }
    switch (request->command) {
    case IPMI_CMD_GET_SEL_INFO:
        return GetInfo(sel, response);
    case IPMI_CMD_RESERVE_SEL:
        return Reserve(sel, response);
    case IPMI_CMD_GET_SEL_ENTRY:
        return GetEntry(sel, request, response);
    case IPMI_CMD_ADD_SEL_ENTRY:
        return AddEntry(sel, request, response, systemTimeNow);
    case IPMI_CMD_CLEAR_SEL:
        return Clear(sel, request, response, systemTimeNow);
    default:
        return Answer(response, IPMI_CC_INVALID_COMMAND);
    }
}
