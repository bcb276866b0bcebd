// The two request exports called with every mix of null pointers, lengths beyond the packet or
// the caller's buffer, session numbers outside the table and timeouts that do not fit: refused as
// the header documents, nothing sent when refused, never a byte written past the capacity.
#include "library_fixture.h"

#include <climits>

class HostileArguments : public LibraryTest {};

struct HostileCall {
    bool data;
    BYTE requestLength;
    bool response;
    int capacity;  // -1: no responseLength pointer
    bool code;
    DWORD session;
    int timed;     // -1: SendVX7Request, else the index of the timeout
};

const LONG kTimeouts[] = {5000, 0, INT_MIN, INT_MAX};

static DWORD Send(const HostileCall &c, const BYTE *request, BYTE *answer, BYTE *capacity, BYTE *code)
{
    const BYTE *data = c.data ? request : nullptr;
    BYTE *response = c.response ? answer : nullptr;
    BYTE *length = c.capacity >= 0 ? capacity : nullptr;
    BYTE *completion = c.code ? code : nullptr;
    const BYTE echo = IMBSIM_NETFN_ECHO << 2;
    if (c.timed < 0) {
        return SendVX7Request(c.session, echo, IMBSIM_CMD_ECHO, data, c.requestLength, VX7_BMC_ADDRESS, response,
                              length, completion);
    }
    return SendVX7RequestTimed(c.session, echo, IMBSIM_CMD_ECHO, data, c.requestLength, VX7_BMC_ADDRESS, response,
                               length, completion, kTimeouts[c.timed]);
}

// The documented result: 87 for what cannot be sent or received, else whether the echo (at most
// 45 bytes of the request) fits.
static DWORD Expected(const HostileCall &c)
{
    if (c.data && c.requestLength > VX7_MAX_REQUEST_DATA) return ERROR_INVALID_PARAMETER;
    if (c.capacity < 0 || !c.code || (!c.response && c.capacity != 0)) return ERROR_INVALID_PARAMETER;
    if (c.timed > 0) return ERROR_INVALID_PARAMETER;
    int answered = c.data ? (c.requestLength < VX7_MAX_RESPONSE_DATA ? c.requestLength : VX7_MAX_RESPONSE_DATA) : 0;
    return answered > c.capacity ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
}

TEST_F(HostileArguments, RequestExportsRefuseWhatTheyCannotSendOrDeliver)
{
    DWORD open = OpenSession();
    BYTE request[255];
    for (int i = 0; i < 255; ++i) request[i] = static_cast<BYTE>(i + 1);
    const BYTE lengths[] = {0, 1, 45, 51, 52, 255};
    const int capacities[] = {-1, 0, 1, 44, 45, 255};
    const DWORD sessions[] = {open, 512, 0xFFFFFFFF};
    int sent = 0;
    uint32_t loggedBefore = bmc_.LoggedCount();
    for (bool data : {false, true})
        for (BYTE requestLength : lengths)
            for (bool response : {false, true})
                for (int capacity : capacities)
                    for (bool code : {false, true})
                        for (DWORD session : sessions)
                            for (int timed = -1; timed < 4; ++timed) {
                                HostileCall c = {data, requestLength, response, capacity, code, session, timed};
                                BYTE answer[256], length = static_cast<BYTE>(capacity), completion = 0xEE;
                                memset(answer, 0xA5, sizeof(answer));
                                DWORD expected = Expected(c);
                                SetLastError(kLastErrorSentinel);
                                DWORD result = Send(c, request, answer, &length, &completion);
                                if (expected != ERROR_INVALID_PARAMETER) ++sent;
                                int stored = result == 0 ? length : 0;
                                bool untouched = result != 0 ? length == static_cast<BYTE>(capacity) && completion == 0xEE
                                                             : completion == 0 && memcmp(answer, request, stored) == 0;
                                for (int i = stored; i < 256; ++i) untouched = untouched && answer[i] == 0xA5;
                                ASSERT_EQ(expected, result)
                                    << "data " << data << " length " << int(requestLength) << " response " << response
                                    << " capacity " << capacity << " code " << code << " session " << session
                                    << " timeout " << (timed < 0 ? 5000 : kTimeouts[timed]);
                                ASSERT_TRUE(untouched) << "outputs beyond what the result allows were written";
                            }
    EXPECT_EQ(loggedBefore + sent, bmc_.LoggedCount()) << "refused calls send nothing";
}
