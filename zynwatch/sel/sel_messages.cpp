#include "sel/sel_messages.h"

const uint8_t kBmcAddress = 0x20;
const uint8_t kStorageNetFnLun = 0x28;      // network function 0x0A, LUN 0
const uint8_t kSensorEventNetFnLun = 0x10;  // network function 0x04, LUN 0
const uint8_t kGetSelInfoCommand = 0x40;
const uint8_t kGetSelEntryCommand = 0x43;
const uint8_t kPlatformEventCommand = 0x02;
const uint8_t kWholeRecord = 0xFF;
const uint8_t kSelOverflowFlag = 0x80;

const uint8_t kSystemManagementSoftwareId = 0x41;  // IPMI software ID of system management software
const uint8_t kEventMessageRevision = 0x04;        // IPMI v2.0
const uint8_t kSensorSpecificAssertion = 0x6F;
const uint8_t kOsEventSensorNumber = 0x00;
const uint8_t kUnspecified = 0xFF;

struct OsEventBytes {
    uint8_t sensorType;
    uint8_t offset;
    const char *name;
};

static const OsEventBytes kOsEvents[2] = {
    {0x1F, 0x06, "OS boot completed"},
    {0x20, 0x03, "OS graceful shutdown"},
};

static uint16_t Le16(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

static uint32_t Le32(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void BuildGetSelInfoMessage(uint8_t message[kGetSelInfoMessageLength])
{
    message[0] = kBmcAddress;
    message[1] = kStorageNetFnLun;
    message[2] = kGetSelInfoCommand;
}

void BuildGetSelEntryMessage(uint16_t recordId, uint8_t message[kGetSelEntryMessageLength])
{
    const uint8_t bytes[kGetSelEntryMessageLength] = {
        kBmcAddress, kStorageNetFnLun, kGetSelEntryCommand, 0x00, 0x00, static_cast<uint8_t>(recordId & 0xFF),
        static_cast<uint8_t>(recordId >> 8), 0x00, kWholeRecord};
    for (size_t i = 0; i < kGetSelEntryMessageLength; ++i) message[i] = bytes[i];
}

void BuildOsEventMessage(OsEvent event, uint8_t message[kOsEventMessageLength])
{
    const OsEventBytes &os = kOsEvents[event];
    const uint8_t bytes[kOsEventMessageLength] = {
        kBmcAddress,           kSensorEventNetFnLun, kPlatformEventCommand, kSystemManagementSoftwareId,
        kEventMessageRevision, os.sensorType,        kOsEventSensorNumber,  kSensorSpecificAssertion,
        os.offset,             kUnspecified,         kUnspecified};
    for (size_t i = 0; i < kOsEventMessageLength; ++i) message[i] = bytes[i];
}

const char *OsEventName(OsEvent event)
{
    return kOsEvents[event].name;
}

bool DecodeSelInfo(const uint8_t *data, size_t length, SelInfo *info)
{
    if (data == nullptr || length < kSelInfoLength) return false;
    info->version = data[0];
    info->entries = Le16(data + 1);
    info->freeBytes = Le16(data + 3);
    info->lastAddition = Le32(data + 5);
    info->lastErase = Le32(data + 9);
    info->operations = data[13];
    return true;
}

bool SelFull(const SelInfo &info)
{
    return info.freeBytes < kSelRecordSize || (info.operations & kSelOverflowFlag) != 0;
}

bool DecodeSelEntry(const uint8_t *data, size_t length, uint16_t *nextId, SelRecord *record)
{
    if (data == nullptr || length < kSelEntryLength) return false;
    const uint8_t *r = data + 2;
    *nextId = Le16(data);
    record->id = Le16(r);
    record->type = r[2];
    record->timestamp = Le32(r + 3);
    record->generator = r[7];
    record->revision = r[9];
    record->sensorType = r[10];
    record->sensorNumber = r[11];
    record->eventType = r[12];
    for (int i = 0; i < 3; ++i) record->data[i] = r[13 + i];
    return true;
}
