// Request exchange: packet bytes, response delivery, status mapping, timeouts and argument checks.
#include "library_fixture.h"

class Exchange : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        session_ = OpenSession();
    }

    DWORD session_ = 0;
};

TEST_F(Exchange, GetDeviceIdSendsAHeaderOnlyPacketAndDeliversTheAnswer)
{
    BYTE data[64] = {}, length = sizeof(data), code = 0xEE;
    ASSERT_EQ(0u, SendVX7Request(session_, 0x18, 0x01, nullptr, 0, 0x20, data, &length, &code));
    ImbSimLogEntry sent = LastLogged();
    EXPECT_EQ(13u, sent.inputLength);
    EXPECT_EQ(46u, sent.outputLength);
    EXPECT_BYTES(sent.packet, 13, {0, 0, 0, 0, 0x40, 0x4B, 0x4C, 0x00, 0x20, 0x01, 0x06, 0x00, 0x00});
    EXPECT_EQ(0x00, code);
    ASSERT_EQ(15, length);
    EXPECT_BYTES(data, length, {0x20, 0x81, 0x01, 0x23, 0x02, 0xBF, 0x4C, 0x1C, 0x00, 0x10, 0x73, 0, 0, 0, 0});
}

TEST_F(Exchange, RequestDataFollowsTheHeaderAndSplitsNetFnAndLun)
{
    const BYTE setWatchdog[6] = {0x04, 0x03, 0x00, 0x10, 0xB8, 0x0B};
    BYTE data[8], length = sizeof(data), code = 0xEE;
    ASSERT_EQ(0u, SendVX7Request(session_, 0x18, 0x24, setWatchdog, 6, 0x20, data, &length, &code));
    ImbSimLogEntry sent = LastLogged();
    EXPECT_EQ(19u, sent.inputLength);
    EXPECT_BYTES(sent.packet + 8, 11, {0x20, 0x24, 0x06, 0x00, 0x06, 0x04, 0x03, 0x00, 0x10, 0xB8, 0x0B});
    EXPECT_EQ(0, length);
    EXPECT_EQ(0x00, code);

    ASSERT_EQ(0u, SendVX7Request(session_, 0xBB, 0x01, nullptr, 0, 0x20, data, &length, &code));
    EXPECT_BYTES(LastLogged().packet + 10, 2, {0x2E, 0x03});  // network function 0x2E, LUN 3
}

TEST_F(Exchange, NullRequestDataSendsNoDataWhateverTheLength)
{
    BYTE data[8], length = sizeof(data), code;
    ASSERT_EQ(0u, SendVX7Request(session_, 0x18, 0x22, nullptr, 6, 0x20, data, &length, &code));
    ImbSimLogEntry sent = LastLogged();
    EXPECT_EQ(13u, sent.inputLength);
    EXPECT_EQ(0, sent.packet[12]);
}

TEST_F(Exchange, ResponseMustFitTheCallersCapacity)
{
    BYTE data[64], length = 64, code = 0xEE;
    ASSERT_TRUE(bmc_.ReportByteCount(16));
    EXPECT_EQ(0u, GetDeviceId(data, &length, &code));
    EXPECT_EQ(15, length);
    EXPECT_EQ(0x00, code);

    memset(data, 0xA5, sizeof(data));
    length = 14;
    code = 0xEE;
    ASSERT_TRUE(bmc_.ReportByteCount(16));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INSUFFICIENT_BUFFER, GetDeviceId(data, &length, &code));
    EXPECT_EQ(14, length);
    EXPECT_EQ(0xEE, code);
    EXPECT_EQ(0xA5, data[0]);
}

TEST_F(Exchange, CountOfOneDeliversOnlyTheCompletionCodeAndZeroDeliversNothing)
{
    BYTE data[64], length = 64, code = 0xEE;
    ASSERT_TRUE(bmc_.ReportByteCount(1));
    EXPECT_EQ(0u, GetDeviceId(data, &length, &code));
    EXPECT_EQ(0, length);
    EXPECT_EQ(0x00, code);

    length = 64;
    code = 0xEE;
    ASSERT_TRUE(bmc_.ReportByteCount(0));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INSUFFICIENT_BUFFER, GetDeviceId(data, &length, &code));
    EXPECT_EQ(64, length);
    EXPECT_EQ(0xEE, code);
}

TEST_F(Exchange, CountBeyondTheResponseBufferIsNeverCopied)
{
    BYTE data[255], length = 255, code = 0xEE;
    memset(data, 0xA5, sizeof(data));
    ASSERT_TRUE(bmc_.ReportByteCount(60));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INSUFFICIENT_BUFFER, GetDeviceId(data, &length, &code));
    EXPECT_EQ(255, length);
    EXPECT_EQ(0xEE, code);
    EXPECT_EQ(0xA5, data[0]);
}

TEST_F(Exchange, NonzeroCompletionCodeIsDeliveredNotJudged)
{
    for (BYTE answer : {0xC1, 0x80, 0xFF}) {
        BYTE data[64], length = 64, code = 0;
        ASSERT_TRUE(bmc_.AnswerWithCompletionCode(answer));
        EXPECT_EQ(0u, GetDeviceId(data, &length, &code));
        EXPECT_EQ(answer, code);
        EXPECT_EQ(0, length);
    }
}

TEST_F(Exchange, DriverStatusesAreMappedAndOthersPassThrough)
{
    struct Case {
        uint32_t status;
        DWORD result;
    } cases[] = {
        {IMB_STATUS_BUFFER_TOO_SMALL, ERROR_INSUFFICIENT_BUFFER},
        {IMB_STATUS_BUFFER_TOO_SMALL2, ERROR_INSUFFICIENT_BUFFER},
        {IMB_STATUS_OVERFLOW, ERROR_BUFFER_OVERFLOW},
        {IMB_STATUS_TIMEOUT, WAIT_TIMEOUT},
        {0xE0041234u, 0xE0041234u},               // a driver-defined status reaches the caller as it is
        {0xC000000Du, ERROR_INVALID_PARAMETER},  // a system status arrives as the system's Win32 code
    };
    for (const Case &c : cases) {
        BYTE data[64], length = 64, code = 0xEE;
        ASSERT_TRUE(bmc_.CompleteWithStatus(c.status));
        SetLastError(kLastErrorSentinel);
        EXPECT_EQ(c.result, GetDeviceId(data, &length, &code)) << std::hex << c.status;
        EXPECT_EQ(64, length);
        EXPECT_EQ(0xEE, code);
    }
}

TEST_F(Exchange, ArgumentsThatCannotBeSentOrReceivedAreRefusedBeforeSending)
{
    BYTE request[52] = {}, data[64], length = 64, code = 0xEE;
    uint32_t before = bmc_.LoggedCount();
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_PARAMETER,
                                SendVX7Request(session_, 0x18, 0x24, request, 52, 0x20, data, &length, &code));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_PARAMETER,
                                SendVX7Request(session_, 0x18, 0x01, nullptr, 0, 0x20, data, nullptr, &code));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_PARAMETER,
                                SendVX7Request(session_, 0x18, 0x01, nullptr, 0, 0x20, data, &length, nullptr));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_PARAMETER,
                                SendVX7Request(session_, 0x18, 0x01, nullptr, 0, 0x20, nullptr, &length, &code));
    EXPECT_EQ(before, bmc_.LoggedCount()) << "nothing was sent";
    EXPECT_EQ(64, length);
    EXPECT_EQ(0xEE, code);

    // 51 bytes fill the packet exactly; no buffer is needed for an answer without data.
    BYTE none = 0;
    EXPECT_EQ(0u, SendVX7Request(session_, 0x18, 0x22, request, 51, 0x20, nullptr, &none, &code));
    EXPECT_EQ(64u, LastLogged().inputLength);
}

struct EchoWorker {
    int id;
    int requests;
    int mismatches;
};

// Sends echo requests whose bytes name the thread and the request, and counts wrong answers.
static DWORD WINAPI EchoRequests(void *argument)
{
    EchoWorker *worker = static_cast<EchoWorker *>(argument);
    DWORD session;
    if (OpenVX7Driver(&session) != 0) return 1;
    for (int n = 0; n < worker->requests; ++n) {
        BYTE request[5] = {static_cast<BYTE>(worker->id), static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), 0x5A,
                           static_cast<BYTE>(worker->id ^ n)};
        BYTE answer[64] = {}, length = sizeof(answer), code = 0xEE;
        DWORD result = SendVX7Request(session, IMBSIM_NETFN_ECHO << 2, IMBSIM_CMD_ECHO, request, 5, 0x20, answer,
                                      &length, &code);
        if (result != 0 || code != 0 || length != 5 || memcmp(answer, request, 5) != 0) worker->mismatches++;
    }
    return CloseVX7Driver(static_cast<LONG>(session));
}

TEST_F(Exchange, ManyThreadsShareTheHandleAndEachGetsItsOwnAnswer)
{
    const int threads = 8, requests = 200;
    EchoWorker workers[threads];
    HANDLE handles[threads];
    for (int i = 0; i < threads; ++i) {
        workers[i] = {i, requests, 0};
        handles[i] = CreateThread(nullptr, 0, EchoRequests, &workers[i], 0, nullptr);
        ASSERT_NE(nullptr, handles[i]);
    }
    ASSERT_TRUE(JOIN_THREADS(handles, threads, 60000)) << bmc_.LoggedCount() << " requests logged";
    for (int i = 0; i < threads; ++i) {
        DWORD exitCode = 99;
        GetExitCodeThread(handles[i], &exitCode);
        CloseHandle(handles[i]);
        EXPECT_EQ(0u, exitCode) << "thread " << i;
        EXPECT_EQ(0, workers[i].mismatches) << "thread " << i;
    }
    EXPECT_EQ(static_cast<uint32_t>(threads * requests), bmc_.LoggedCount());
}

TEST_F(Exchange, WithoutAnOpenSessionTheRequestFailsOnTheClosedHandle)
{
    ASSERT_EQ(0u, CloseVX7Driver(static_cast<LONG>(session_)));
    BYTE data[64], length = 64, code = 0xEE;
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, GetDeviceId(data, &length, &code));
    EXPECT_EQ(0u, bmc_.LoggedCount());
}

TEST_F(Exchange, InterfaceVersionIsOnePointSix)
{
    DWORD version = 0;
    EXPECT_EQ(0u, GetVX7Version(&version));
    EXPECT_EQ(0x00000106u, version);
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_PARAMETER, GetVX7Version(nullptr));
}

extern "C" DWORD CallFromC(DWORD *version, BYTE *completionCode);

TEST_F(Exchange, CProgramsUseEveryExportThroughTheHeader)
{
    DWORD version = 0;
    BYTE code = 0xEE;
    EXPECT_EQ(0u, CallFromC(&version, &code));
    EXPECT_EQ(0x106u, version);
    EXPECT_EQ(0x00, code);
    EXPECT_EQ(2u, bmc_.LoggedCount());
}
