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
