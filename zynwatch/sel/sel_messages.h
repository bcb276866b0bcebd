#pragma once
// The System Event Log's requests as SendVX7Message takes them (responder, netFn/LUN, command,
// data) and their answers: Get SEL Info, Get SEL Entry, and the Platform Event Message by which
// the service writes the operating system's events into the BMC's log. Plain byte logic without
// Win32 calls, so it also builds and is tested natively.
#include <stddef.h>
#include <stdint.h>

const size_t kGetSelInfoMessageLength = 3;    // header only
const size_t kGetSelEntryMessageLength = 9;   // header and 6 data bytes
const size_t kOsEventMessageLength = 11;      // header and 8 data bytes
const size_t kSelInfoLength = 14;             // data bytes of Get SEL Info's answer
const size_t kSelRecordSize = 16;
const size_t kSelEntryLength = 2 + kSelRecordSize;  // the next record's ID, then the record

const uint16_t kSelFirstRecordId = 0x0000;
const uint16_t kSelLastRecordId = 0xFFFF;  // asked for: the last record; answered as the next: none follows

const uint8_t kCompletionCodeNoSel = 0xC1;       // invalid command: the BMC has no SEL
const uint8_t kCompletionCodeNotPresent = 0xCB;  // no such record, or none at all

void BuildGetSelInfoMessage(uint8_t message[kGetSelInfoMessageLength]);

// Get SEL Entry of a whole record, which needs no reservation.
void BuildGetSelEntryMessage(uint16_t recordId, uint8_t message[kGetSelEntryMessageLength]);

// The operating system's events as system management software announces them (generator ID
// 0x41, event message revision 04h, assertions of sensor-specific offsets).
enum OsEvent { kOsBootCompleted, kOsGracefulShutdown };

// Platform Event Message: OS Boot (1Fh) "boot completed - boot device not specified" (06h), or
// OS Stop / Shutdown (20h) "OS graceful shutdown" (03h).
void BuildOsEventMessage(OsEvent event, uint8_t message[kOsEventMessageLength]);

// "OS boot completed", "OS graceful shutdown".
const char *OsEventName(OsEvent event);

struct SelInfo {
    uint8_t version;
    uint16_t entries;
    uint16_t freeBytes;     // FFFFh: that many or more
    uint32_t lastAddition;  // timestamps
    uint32_t lastErase;
    uint8_t operations;     // bit 7: events were dropped for want of room
};

// False when the answer is shorter than its fourteen data bytes.
bool DecodeSelInfo(const uint8_t *data, size_t length, SelInfo *info);

// No room for one more record, or records were already dropped for want of it.
bool SelFull(const SelInfo &info);

// A record as Get SEL Entry gives it; the fields of a system event record (type 02h).
struct SelRecord {
    uint16_t id;
    uint8_t type;
    uint32_t timestamp;  // seconds since 1970; up to 20000000h: since the BMC started
    uint8_t generator;   // bit 0 set: a software ID; else the slave address of an IPMB device
    uint8_t revision;
    uint8_t sensorType;
    uint8_t sensorNumber;
    uint8_t eventType;   // bit 7: deassertion; bits 6..0: the event/reading type
    uint8_t data[3];
};

// False when the answer is shorter than the next ID and a whole record.
bool DecodeSelEntry(const uint8_t *data, size_t length, uint16_t *nextId, SelRecord *record);
