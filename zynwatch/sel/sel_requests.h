#pragma once
// The requests to the BMC's System Event Log. A row of reads shares one driver session, so a long
// read opens the device once; each request tells how it ended.
#include <windows.h>

#include "sel/sel_messages.h"
#include "watchdog/watchdog_messages.h"

// A driver session for a row of requests, closed when it goes out of scope.
class SelSession {
public:
    SelSession();
    ~SelSession();
    SelSession(const SelSession &) = delete;
    SelSession &operator=(const SelSession &) = delete;

    bool Opened() const { return error_ == ERROR_SUCCESS; }
    DWORD OpenError() const { return error_; }
    DWORD Id() const { return session_; }

private:
    DWORD session_;
    DWORD error_;
};

// Get SEL Info; false also when the answer is shorter than its fourteen data bytes.
bool ReadSelInfo(const SelSession &session, SelInfo *info, WatchdogOutcome *outcome);

// Get SEL Entry of one whole record (kSelFirstRecordId, kSelLastRecordId or an ID); false also
// for a short answer.
bool ReadSelRecord(const SelSession &session, uint16_t recordId, uint16_t *nextId, SelRecord *record,
                   WatchdogOutcome *outcome);

// The operating system's event as a Platform Event Message, in a session of its own.
bool SendOsEvent(OsEvent event, WatchdogOutcome *outcome);
