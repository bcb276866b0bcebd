// The three watchdog requests against the simulated BMC: bytes sent, one session per request,
// completion codes, and the driver being absent.
#include <windows.h>

#include <gtest/gtest.h>

#include "configuration/service_configuration_rules.h"
#include "session_table.h"
#include "simulated_bmc.h"
#include "test_helpers.h"
#include "test_watchdog_settings.h"
#include "watchdog/watchdog.h"
#include "zynwatch_test_support.h"

class Watchdog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(CreateSessionTable()); }
    static void TearDownTestSuite() { DestroySessionTable(); }

    void SetUp() override
    {
        ASSERT_TRUE(bmc_.Connected()) << "the simulated driver does not answer at " IMB_DEVICE_PATH_A;
        ASSERT_TRUE(bmc_.Reset());
    }

    void TearDown() override
    {
        EXPECT_EQ(0, OpenSessionCount()) << "a request left its session open";
        bmc_.Reset();
    }

    // The Set/Reset Watchdog Timer message as the driver received it: responder, netFn/LUN, command, data.
    std::vector<uint8_t> SentMessage(const ImbSimLogEntry &entry)
    {
        const uint8_t *packet = entry.packet;
        std::vector<uint8_t> message = {packet[8], static_cast<uint8_t>(packet[10] << 2 | packet[11]), packet[9]};
        for (uint8_t i = 0; i < packet[12] && i < 51; ++i) message.push_back(packet[13 + i]);
        EXPECT_EQ(13u + packet[12], entry.inputLength);
        EXPECT_BYTES(packet, 8, {0, 0, 0, 0, 0x40, 0x4B, 0x4C, 0x00});  // flags 0, 5 s for the BMC
        return message;
    }

    std::vector<uint8_t> LastMessage()
    {
        std::vector<ImbSimLogEntry> log = bmc_.ReadLog();
        EXPECT_FALSE(log.empty());
        return log.empty() ? std::vector<uint8_t>() : SentMessage(log.back());
    }

    SimulatedBmc bmc_;
};

TEST_F(Watchdog, ArmResetAndStopSendTheirExactMessages)
{
    ASSERT_TRUE(ArmWatchdog(Settings(3, 0, 300, 0)));
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x24, 0x04, 0x03, 0x00, 0x10, 0xB8, 0x0B}), LastMessage());
    ImbSimWatchdogState state = bmc_.ReadWatchdog();
    EXPECT_EQ(0, state.running) << "Set Watchdog Timer leaves the timer stopped";
    EXPECT_EQ(3000, state.initialCountdown);

    ASSERT_TRUE(ResetWatchdog());
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x22}), LastMessage());
    EXPECT_EQ(1, bmc_.ReadWatchdog().running) << "the reset starts the countdown";

    ASSERT_TRUE(StopWatchdog());
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x24, 0x04, 0x00, 0x00, 0x10, 0xB8, 0x0B}), LastMessage());
    state = bmc_.ReadWatchdog();
    EXPECT_EQ(0, state.running);
    EXPECT_EQ(0, state.timerActions);
}

TEST_F(Watchdog, ArmCarriesTheSettingsToTheBmc)
{
    ASSERT_TRUE(ArmWatchdog(Settings(1, 3, 6553, 20)));
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x24, 0x04, 0x31, 0x14, 0x10, 0xFA, 0xFF}), LastMessage());
    ImbSimWatchdogState state = bmc_.ReadWatchdog();
    EXPECT_EQ(0x31, state.timerActions);
    EXPECT_EQ(20, state.preTimeoutInterval);
    EXPECT_EQ(65530, state.initialCountdown);
}

TEST_F(Watchdog, StopMessageIsTheSameWhateverWasArmed)
{
    ASSERT_TRUE(ArmWatchdog(Settings(1, 2, 6553, 255)));
    ASSERT_TRUE(StopWatchdog());
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x24, 0x04, 0x00, 0x00, 0x10, 0xB8, 0x0B}), LastMessage());
}

TEST_F(Watchdog, EveryRequestOpensAndClosesTheDeviceOnce)
{
    ImbSimCounters before = bmc_.ReadCounters();
    ASSERT_TRUE(ArmWatchdog(Settings(3, 0, 300, 0)));
    ImbSimCounters after = bmc_.ReadCounters();
    EXPECT_EQ(before.opens + 1, after.opens);
    EXPECT_EQ(before.closes + 1, after.closes);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(ResetWatchdog());
    ASSERT_TRUE(StopWatchdog());
    ImbSimCounters last = bmc_.ReadCounters();
    EXPECT_EQ(after.opens + 6, last.opens);
    EXPECT_EQ(after.closes + 6, last.closes);
    EXPECT_EQ(before.openHandles, last.openHandles) << "no device handle kept between requests";
}

TEST_F(Watchdog, NonzeroCompletionCodeFailsAndStillClosesTheSession)
{
    ImbSimCounters before = bmc_.ReadCounters();
    // A fresh BMC answers a reset before any Set Watchdog Timer with 0x80.
    EXPECT_FALSE(ResetWatchdog());
    ASSERT_TRUE(bmc_.AnswerWithCompletionCode(0xC1));
    EXPECT_FALSE(ArmWatchdog(Settings(3, 0, 300, 0)));
    ASSERT_TRUE(bmc_.AnswerWithCompletionCode(0xC1));
    EXPECT_FALSE(StopWatchdog());
    std::vector<ImbSimLogEntry> log = bmc_.ReadLog();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(0x80, log[0].response[0]);
    EXPECT_EQ(0xC1, log[1].response[0]);
    ImbSimCounters after = bmc_.ReadCounters();
    EXPECT_EQ(before.opens + 3, after.opens);
    EXPECT_EQ(before.closes + 3, after.closes);
    EXPECT_EQ(0, OpenSessionCount());
}

TEST_F(Watchdog, ExchangeFailuresFailAndLoseNoSession)
{
    ASSERT_TRUE(ArmWatchdog(Settings(3, 0, 300, 0)));
    ASSERT_TRUE(bmc_.CompleteWithStatus(IMB_STATUS_TIMEOUT));
    EXPECT_FALSE(ResetWatchdog());
    ASSERT_TRUE(bmc_.ReportByteCount(0));
    EXPECT_FALSE(ResetWatchdog()) << "no completion code came back";
    ImbSimBehaviour random = {};
    random.requestCount = 600;
    random.fields = IMBSIM_RANDOM;
    random.randomSeed = 7;
    ASSERT_TRUE(bmc_.SetBehaviour(random));
    for (int i = 0; i < 600; ++i) ResetWatchdog();  // more requests than the 512 sessions
    EXPECT_EQ(0, OpenSessionCount());
    EXPECT_TRUE(ResetWatchdog()) << "a session can still be opened";
    ImbSimCounters counters = bmc_.ReadCounters();
    EXPECT_EQ(counters.opens, counters.closes) << "every request closed the device it opened";
}

class WatchdogWithoutDriver : public Watchdog {
protected:
    void SetUp() override { ASSERT_TRUE(ControlSimulatedDriver(false)); }
    void TearDown() override
    {
        EXPECT_EQ(0, OpenSessionCount());
        EXPECT_TRUE(ControlSimulatedDriver(true));
    }
};

TEST_F(WatchdogWithoutDriver, EveryRequestFailsWithoutSending)
{
    EXPECT_FALSE(ArmWatchdog(Settings(3, 0, 300, 0)));
    EXPECT_FALSE(ResetWatchdog());
    EXPECT_FALSE(StopWatchdog());
    EXPECT_EQ(0, OpenSessionCount());
    ASSERT_TRUE(ControlSimulatedDriver(true));
    EXPECT_TRUE(StopWatchdog()) << "the next request finds the device again";
    SimulatedBmc bmc;
    EXPECT_EQ(1u, bmc.LoggedCount());
}
