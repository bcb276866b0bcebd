// The packet's timeout field and the process-wide BMC timeout that timed requests set.
#include "library_fixture.h"

class Timeouts : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        session_ = OpenSession();
    }

    DWORD Plain(BYTE responder)
    {
        BYTE length = 0, code;
        return SendVX7Request(session_, 0x18, 0x22, nullptr, 0, responder, nullptr, &length, &code);
    }

    DWORD Timed(BYTE responder, LONG timeout)
    {
        BYTE length = 0, code;
        return SendVX7RequestTimed(session_, 0x18, 0x22, nullptr, 0, responder, nullptr, &length, &code, timeout);
    }

    uint32_t SentTimeout() { return ReadLe32(LastLogged().packet + 4); }

    // Get Device ID with a 300 ms timeout, held by the driver: 258 with the outputs untouched.
    // Gives the moment it returned, on the driver's clock.
    int64_t HeldGetDeviceIdTimesOut(bool honourCancel)
    {
        EXPECT_EQ(0u, Timed(0x20, 300));
        EXPECT_TRUE(bmc_.HoldRequests(1, honourCancel));
        BYTE data[64], length = 64, code = 0xEE;
        EXPECT_RESULT_WITH_SENTINEL(WAIT_TIMEOUT, GetDeviceId(data, &length, &code));
        LARGE_INTEGER returned;
        QueryPerformanceCounter(&returned);
        EXPECT_EQ(64, length);
        EXPECT_EQ(0xEE, code);
        return returned.QuadPart;
    }

    DWORD session_ = 0;
};

TEST_F(Timeouts, DefaultIsFiveSecondsForTheBmcAndNineForOthers)
{
    ASSERT_EQ(0u, Plain(0x20));
    EXPECT_EQ(5000000u, SentTimeout());
    ASSERT_EQ(0u, Plain(0x22));
    EXPECT_EQ(9000000u, SentTimeout());
}

TEST_F(Timeouts, TimedRequestToTheBmcSetsTheTimeoutForLaterRequests)
{
    ASSERT_EQ(0u, Timed(0x20, 2000));
    EXPECT_EQ(2000000u, SentTimeout());
    ASSERT_EQ(0u, Plain(0x20));
    EXPECT_EQ(2000000u, SentTimeout());
    ASSERT_EQ(0u, Plain(0x40));
    EXPECT_EQ(9000000u, SentTimeout()) << "other responders keep nine seconds";
}

TEST_F(Timeouts, TimedRequestToAnotherResponderSetsAtLeastNineSeconds)
{
    ASSERT_EQ(0u, Timed(0x40, 3000));
    EXPECT_EQ(9000000u, SentTimeout());
    ASSERT_EQ(0u, Plain(0x20));
    EXPECT_EQ(9000000u, SentTimeout());

    ASSERT_EQ(0u, Timed(0x40, 12000));
    EXPECT_EQ(9000000u, SentTimeout());
    ASSERT_EQ(0u, Plain(0x20));
    EXPECT_EQ(12000000u, SentTimeout());

    ASSERT_EQ(0u, Timed(0x40, -1));
    ASSERT_EQ(0u, Plain(0x20));
    EXPECT_EQ(9000000u, SentTimeout()) << "a negative timeout for another responder sets nine seconds";
}

TEST_F(Timeouts, SettingsThatDoNotFitThePacketAreRefusedAndKeepTheOldOne)
{
    ASSERT_EQ(0u, Timed(0x20, 4000));
    uint32_t sent = bmc_.LoggedCount();
    for (LONG bad : {0L, -1L, -5000L, 4294968L, 0x7FFFFFFFL}) {
        EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_PARAMETER, Timed(0x20, bad));
    }
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_PARAMETER, Timed(0x40, 4294968L));
    EXPECT_EQ(sent, bmc_.LoggedCount()) << "nothing was sent";
    ASSERT_EQ(0u, Plain(0x20));
    EXPECT_EQ(4000000u, SentTimeout());

    ASSERT_EQ(0u, Timed(0x20, 4294967));
    EXPECT_EQ(4294967000u, SentTimeout()) << "the largest setting that fits";
    ASSERT_EQ(0u, Timed(0x20, 1));
    EXPECT_EQ(1000u, SentTimeout());
}

// The driver ends the request at the packet's timeout by its own clock; the wall clock only bounds
// the call from below and catches one that hangs or waits the 5 s default.
TEST_F(Timeouts, BmcThatAnswersTooLateTimesOut)
{
    ASSERT_EQ(0u, Timed(0x20, 300));
    ASSERT_TRUE(bmc_.DelayAnswers(1000));
    BYTE data[64], length = 64, code = 0xEE;
    ULONGLONG start = GetTickCount64();
    EXPECT_RESULT_WITH_SENTINEL(WAIT_TIMEOUT, GetDeviceId(data, &length, &code));
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(0xEE, code);
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_.ReadLog(0, &frequency);
    ASSERT_FALSE(log.empty());
    const ImbSimLogEntry &timedOut = log.back();
    EXPECT_EQ(300000u, ReadLe32(timedOut.packet + 4));
    EXPECT_EQ(IMB_STATUS_TIMEOUT, timedOut.status);
    EXPECT_GE((timedOut.completedCounter - timedOut.counter) * 1000 / frequency, 290) << "held for the timeout";
    EXPECT_GE(elapsed, 250u);
    EXPECT_LT(elapsed, 4000u) << "ends when the driver gives up";

    ASSERT_TRUE(bmc_.DelayAnswers(100));
    EXPECT_EQ(0u, GetDeviceId(data, &length, &code)) << "an answer within the timeout arrives";
}

// A driver that holds a request uncompleted. The library waits the timeout and 500 ms for the
// driver's own answer, cancels, and waits up to 500 ms for the cancellation; the upper bounds
// allow a loaded machine, yet catch a call that waits a second timeout or hangs.
const double kAnswerGraceMs = 500, kCancelGraceMs = 500, kLoadedMachineMs = 2500;
const uint32_t kStatusCancelled = 0xC0000120u;

static double CounterMs(int64_t from, int64_t to, int64_t frequency)
{
    return double(to - from) * 1000.0 / double(frequency);
}

// Heap blocks around the size of the library's request block, filled with a pattern that a
// completion into a freed request block would break.
class HeapPattern {
public:
    HeapPattern()
    {
        for (SIZE_T size = 64; size <= 192; size += 8) {
            for (int i = 0; i < 64; ++i) {
                BYTE *block = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), 0, size));
                if (block != nullptr) memset(block, 0x5A, size);
                blocks_.push_back({block, size});
            }
        }
    }
    ~HeapPattern()
    {
        for (const Block &b : blocks_) HeapFree(GetProcessHeap(), 0, b.bytes);
    }
    bool Intact() const
    {
        for (const Block &b : blocks_) {
            if (b.bytes == nullptr) return false;
            for (SIZE_T i = 0; i < b.size; ++i) {
                if (b.bytes[i] != 0x5A) return false;
            }
        }
        return true;
    }

private:
    struct Block {
        BYTE *bytes;
        SIZE_T size;
    };
    std::vector<Block> blocks_;
};

TEST_F(Timeouts, HeldRequestIsCancelledAfterItsTimeoutAndEndsWith258)
{
    int64_t returned = HeldGetDeviceIdTimesOut(true);
    ImbSimCounters counters = bmc_.ReadCounters();
    EXPECT_EQ(0u, counters.heldRequests);
    EXPECT_EQ(1u, counters.cancelledRequests) << "the driver's cancel routine completed it";
    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_.ReadLog(0, &frequency);
    ASSERT_FALSE(log.empty());
    const ImbSimLogEntry &held = log.back();
    EXPECT_EQ(kStatusCancelled, held.status);
    EXPECT_GE(CounterMs(held.counter, held.completedCounter, frequency), 300 + kAnswerGraceMs - 5)
        << "cancelled only after the timeout and the driver's grace";
    EXPECT_LT(CounterMs(held.counter, returned, frequency), 300 + kAnswerGraceMs + kCancelGraceMs + kLoadedMachineMs);
    BYTE data[64], length = 64, code = 0xEE;
    EXPECT_EQ(0u, GetDeviceId(data, &length, &code)) << "the next request is answered";
}

// The request's buffers stay with it until the driver completes it: memory freed under it would
// be handed out again and written into. The session is untouched meanwhile.
TEST_F(Timeouts, RequestTheDriverNeverCompletesEndsWith258AndKeepsItsBuffersUntilItDoes)
{
    int64_t returned = HeldGetDeviceIdTimesOut(false);
    EXPECT_EQ(1u, bmc_.ReadCounters().heldRequests) << "the driver ignored the cancellation";
    HeapPattern pattern;
    BYTE data[64], length = 64, code = 0xEE;
    EXPECT_EQ(0u, GetDeviceId(data, &length, &code)) << "another request is answered meanwhile";
    uint32_t released = 0;
    ASSERT_TRUE(bmc_.ReleaseHeld(&released));
    EXPECT_EQ(1u, released);
    // Under Wine the completion is written on this thread's next wait; this request waits.
    EXPECT_EQ(0u, GetDeviceId(data, &length, &code));
    EXPECT_TRUE(pattern.Intact()) << "the completion wrote into memory that had been freed";
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));

    int64_t frequency = 0;
    std::vector<ImbSimLogEntry> log = bmc_.ReadLog(0, &frequency);
    ASSERT_EQ(4u, log.size()) << "the timed request, the one answered meanwhile, the held one, the last";
    const ImbSimLogEntry &held = log[2];
    EXPECT_EQ(0u, held.status);
    EXPECT_EQ(0x01, held.packet[9]) << "Get Device ID, answered from the BMC when released";
    EXPECT_GE(CounterMs(held.counter, returned, frequency), 300 + kAnswerGraceMs + kCancelGraceMs - 5)
        << "the ignored cancellation was waited for";
    EXPECT_LT(CounterMs(held.counter, returned, frequency), 300 + kAnswerGraceMs + kCancelGraceMs + kLoadedMachineMs);

    EXPECT_EQ(0u, CloseVX7Driver(static_cast<LONG>(session_))) << "the session stayed open";
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, CloseVX7Driver(static_cast<LONG>(session_)));
    EXPECT_EQ(0u, OpenSession()) << "the table starts again at session 0";
}

// The library's exports in a copy of the DLL loaded by path, as the installer loads and unloads it.
class LibraryCopy {
public:
    LibraryCopy()
    {
        char original[MAX_PATH], folder[MAX_PATH];
        if (GetModuleFileNameA(GetModuleHandleA("zynvx7w.dll"), original, MAX_PATH) == 0) return;
        if (GetTempPathA(MAX_PATH, folder) == 0) return;
        path_ = std::string(folder) + "zynvx7w-copy-" + std::to_string(GetCurrentProcessId()) + ".dll";
        if (!CopyFileA(original, path_.c_str(), FALSE)) return;
        module_ = LoadLibraryA(path_.c_str());
        if (module_ == nullptr) return;
        open_ = reinterpret_cast<decltype(open_)>(GetProcAddress(module_, "OpenVX7Driver"));
        close_ = reinterpret_cast<decltype(close_)>(GetProcAddress(module_, "CloseVX7Driver"));
        timed_ = reinterpret_cast<decltype(timed_)>(GetProcAddress(module_, "SendVX7RequestTimed"));
    }
    ~LibraryCopy()
    {
        Unload();
        if (!path_.empty()) DeleteFileA(path_.c_str());
    }
    bool Loaded() const { return open_ != nullptr && close_ != nullptr && timed_ != nullptr; }
    void Unload()
    {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
    }

    decltype(&OpenVX7Driver) open_ = nullptr;
    decltype(&CloseVX7Driver) close_ = nullptr;
    decltype(&SendVX7RequestTimed) timed_ = nullptr;

private:
    std::string path_;
    HMODULE module_ = nullptr;
};

// A copy of the library keeps one block per request in flight for later requests, and one for
// a request its driver holds. A held block is freed once its request has completed, when the
// next one is left to its driver or the library unloads; one still held outlives the unload.
// Handles are counted from a steady state: Wine opens some of its own at a thread's first waits.
TEST_F(Timeouts, AbandonedBlocksAreFreedOnceCompletedAndAHeldOneOutlivesTheUnload)
{
    LibraryCopy copy;
    ASSERT_TRUE(copy.Loaded());
    DWORD session = 0;
    ASSERT_EQ(0u, copy.open_(&session));
    auto get = [&]() {
        BYTE data[64], length = 64, code = 0xEE;
        return copy.timed_(session, 0x18, 0x01, nullptr, 0, VX7_BMC_ADDRESS, data, &length, &code, 100);
    };
    auto heldThenAnswered = [&]() {
        ASSERT_TRUE(bmc_.HoldRequests(1, false));
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), get());
        ASSERT_TRUE(bmc_.ReleaseHeld());
        EXPECT_EQ(0u, get());
    };
    heldThenAnswered();
    DWORD steady = ProcessHandles();  // one kept block and one held one, each with its event
    for (int round = 1; round <= 2; ++round) {
        heldThenAnswered();
        EXPECT_EQ(steady, ProcessHandles()) << "round " << round << ": the completed held block is freed";
    }
    ASSERT_TRUE(bmc_.HoldRequests(1, false));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), get());
    EXPECT_EQ(0u, get());
    EXPECT_EQ(0u, copy.close_(static_cast<LONG>(session)));
    copy.Unload();
    EXPECT_EQ(steady - 2, ProcessHandles()) << "the device and the kept block are gone, the held block stays";
    HeapPattern pattern;
    ASSERT_TRUE(bmc_.ReleaseHeld());
    ASSERT_TRUE(bmc_.Reset());  // a wait of this thread, on which Wine writes the completion
    EXPECT_TRUE(pattern.Intact());
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}
