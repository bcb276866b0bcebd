#include "sel/sel_requests.h"

#include "service_requests.h"
#include "session_table.h"

const BYTE kResponseCapacity = 64;
const BYTE kNoCompletionCode = 0xFF;

SelSession::SelSession() : session_(0), error_(OpenVX7Driver(&session_)) {}

SelSession::~SelSession()
{
    if (Opened()) CloseVX7Driver(static_cast<LONG>(session_));
}

// One exchange; the answer's data bytes in data, their count in the outcome.
static bool Exchange(const SelSession &session, const BYTE *message, BYTE length, BYTE data[kResponseCapacity],
                     WatchdogOutcome *outcome)
{
    *outcome = {session.OpenError(), kNoCompletionCode, 0};
    if (!session.Opened()) return false;
    BYTE responseLength = kResponseCapacity;
    BYTE completionCode = kNoCompletionCode;
    DWORD result = SendVX7Message(session.Id(), message, length, data, &responseLength, &completionCode, 0);
    outcome->error = result;
    outcome->completionCode = completionCode;
    outcome->length = result == ERROR_SUCCESS ? responseLength : 0;
    return OutcomeSucceeded(*outcome);
}

bool ReadSelInfo(const SelSession &session, SelInfo *info, WatchdogOutcome *outcome)
{
    BYTE message[kGetSelInfoMessageLength];
    BYTE data[kResponseCapacity];
    BuildGetSelInfoMessage(message);
    return Exchange(session, message, kGetSelInfoMessageLength, data, outcome) &&
           DecodeSelInfo(data, outcome->length, info);
}

bool ReadSelRecord(const SelSession &session, uint16_t recordId, uint16_t *nextId, SelRecord *record,
                   WatchdogOutcome *outcome)
{
    BYTE message[kGetSelEntryMessageLength];
    BYTE data[kResponseCapacity];
    BuildGetSelEntryMessage(recordId, message);
    return Exchange(session, message, kGetSelEntryMessageLength, data, outcome) &&
           DecodeSelEntry(data, outcome->length, nextId, record);
}

bool SendOsEvent(OsEvent event, WatchdogOutcome *outcome)
{
    SelSession session;
    BYTE message[kOsEventMessageLength];
    BYTE data[kResponseCapacity];
    BuildOsEventMessage(event, message);
    return Exchange(session, message, kOsEventMessageLength, data, outcome);
}
