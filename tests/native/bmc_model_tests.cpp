// The simulated BMC's watchdog and identity, so that the test bed itself follows the IPMI rules.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bmc_model.h"

const int64_t kTicksPerSecond = 1000;

// The records are packed: copy a field out before an assertion binds a reference to it.
template <typename T>
static T Value(T field)
{
    return field;
}

class BmcModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ImbSimBmcConfig config;
        BmcDefaultConfig(&config);
        BmcReset(&bmc, &config, kTicksPerSecond);
    }

    uint8_t Send(uint8_t command, std::initializer_list<uint8_t> data, int64_t now, uint8_t netFn = IPMI_NETFN_APP)
    {
        ImbRequestPacket request = {};
        request.networkFunction = netFn;
        request.command = command;
        request.dataLength = static_cast<uint8_t>(data.size());
        std::copy(data.begin(), data.end(), request.data);
        count = BmcHandleRequest(&bmc, &request, &response, now, now);
        return response.completionCode;
    }

    BmcModel bmc;
    ImbResponsePacket response;
    uint32_t count = 0;
};

TEST_F(BmcModelTest, ResetBeforeAnySetIsRefusedWithUninitialised)
{
    EXPECT_EQ(0x80, Send(IPMI_CMD_RESET_WATCHDOG, {}, 0));
    EXPECT_EQ(1u, count);
}

TEST_F(BmcModelTest, SetLeavesTheTimerStoppedAndResetStartsTheCountdown)
{
    EXPECT_EQ(0x00, Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x03, 0x00, 0x10, 0x64, 0x00}, 0));
    EXPECT_FALSE(Value(bmc.watchdog.running));
    EXPECT_EQ(100, Value(bmc.watchdog.initialCountdown));
    EXPECT_EQ(0x00, Send(IPMI_CMD_RESET_WATCHDOG, {}, 1000));
    EXPECT_TRUE(Value(bmc.watchdog.running));
    BmcAdvance(&bmc, 10999, 10999);
    EXPECT_EQ(0u, Value(bmc.watchdog.eventCount));
    BmcAdvance(&bmc, 11000, 11000);
    ASSERT_EQ(1u, Value(bmc.watchdog.eventCount));
    EXPECT_EQ(IMBSIM_EVENT_EXPIRY, Value(bmc.watchdog.events[0].kind));
    EXPECT_EQ(3, Value(bmc.watchdog.events[0].action));
    EXPECT_EQ(11000, Value(bmc.watchdog.events[0].counter));
    EXPECT_EQ(1, Value(bmc.watchdog.events[0].logged));
    EXPECT_FALSE(Value(bmc.watchdog.running));
    EXPECT_EQ(0x10, Value(bmc.watchdog.expirationFlags));
}

TEST_F(BmcModelTest, EachResetRestartsFromTheFullValue)
{
    Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x01, 0x00, 0x10, 0x64, 0x00}, 0);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 0);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 9000);
    BmcAdvance(&bmc, 18999, 18999);
    EXPECT_EQ(0u, Value(bmc.watchdog.eventCount));
    EXPECT_EQ(1, Send(IPMI_CMD_GET_WATCHDOG, {}, 18000) == 0x00);
    EXPECT_EQ(9u, count);
    EXPECT_EQ(10, response.data[6]) << "one second left";
    BmcAdvance(&bmc, 19000, 19000);
    EXPECT_EQ(1u, Value(bmc.watchdog.eventCount));
}

TEST_F(BmcModelTest, PreTimeoutFiresTheIntervalBeforeExpiry)
{
    EXPECT_EQ(0x00, Send(IPMI_CMD_SET_WATCHDOG, {0x84, 0x23, 0x03, 0x10, 0x64, 0x00}, 0));
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 0);
    BmcAdvance(&bmc, 7000, 7000);
    ASSERT_EQ(1u, Value(bmc.watchdog.eventCount));
    EXPECT_EQ(IMBSIM_EVENT_PRETIMEOUT, Value(bmc.watchdog.events[0].kind));
    EXPECT_EQ(2, Value(bmc.watchdog.events[0].action));
    BmcAdvance(&bmc, 20000, 20000);
    ASSERT_EQ(2u, Value(bmc.watchdog.eventCount));
    EXPECT_EQ(10000, Value(bmc.watchdog.events[1].counter)) << "recorded when it was due";
    EXPECT_EQ(0, Value(bmc.watchdog.events[1].logged)) << "timer use bit 7 asks not to log";
}

TEST_F(BmcModelTest, PreTimeoutNotShorterThanTheCountdownOrUnsupportedIsInvalid)
{
    EXPECT_EQ(0xCC, Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x21, 10, 0x10, 0x64, 0x00}, 0));
    EXPECT_EQ(0x00, Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x01, 10, 0x10, 0x64, 0x00}, 0)) << "no interrupt chosen";
    bmc.config.preTimeoutSupport = 0x02;
    EXPECT_EQ(0xCC, Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x21, 1, 0x10, 0x64, 0x00}, 0));
    EXPECT_EQ(0x00, Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x11, 1, 0x10, 0x64, 0x00}, 0));
    EXPECT_EQ(0xC7, Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x11, 1, 0x10, 0x64}, 0));
}

TEST_F(BmcModelTest, SetWithDontStopKeepsARunningTimerGoingFromTheNewValue)
{
    Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x01, 0x00, 0x10, 0x64, 0x00}, 0);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 0);
    Send(IPMI_CMD_SET_WATCHDOG, {0x44, 0x01, 0x00, 0x00, 0xC8, 0x00}, 5000);
    EXPECT_TRUE(Value(bmc.watchdog.running));
    BmcAdvance(&bmc, 24999, 24999);
    EXPECT_EQ(0u, Value(bmc.watchdog.eventCount));
    Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x00, 0x00, 0x10, 0xB8, 0x0B}, 6000);
    EXPECT_FALSE(Value(bmc.watchdog.running)) << "the stop request stops it";
}

// After a cold reset or a firmware update the watchdog is uninitialised again; a restart of
// the server that the watchdog caused stays readable in the expiration flags.
TEST_F(BmcModelTest, ColdResetForgetsTheSettingsAndKeepsTheExpirationFlags)
{
    Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x03, 0x00, 0x10, 0x0A, 0x00}, 0);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 0);
    BmcAdvance(&bmc, 1000, 1000);
    Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x23, 0x05, 0x00, 0xB8, 0x0B}, 2000);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 2000);
    EXPECT_EQ(0x00, Send(IPMI_CMD_COLD_RESET, {}, 3000));
    EXPECT_FALSE(Value(bmc.watchdog.running));
    EXPECT_EQ(0x80, Send(IPMI_CMD_RESET_WATCHDOG, {}, 4000)) << "uninitialised until the next Set";
    Send(IPMI_CMD_GET_WATCHDOG, {}, 4000);
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00}),
              std::vector<uint8_t>(response.data, response.data + 8));
    EXPECT_EQ(0x00, Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x03, 0x00, 0x10, 0xB8, 0x0B}, 5000));
    EXPECT_EQ(0x00, Send(IPMI_CMD_RESET_WATCHDOG, {}, 5000));
    EXPECT_EQ(0x00, Value(bmc.watchdog.expirationFlags)) << "cleared by the Set's flags-clear byte";
}

TEST_F(BmcModelTest, FirmwareThatDropsThePreTimeoutInterruptStoresNone)
{
    bmc.config.quirks = IMBSIM_QUIRK_DROPS_PRETIMEOUT;
    EXPECT_EQ(0x00, Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x23, 0x0A, 0x10, 0xB8, 0x0B}, 0));
    Send(IPMI_CMD_GET_WATCHDOG, {}, 0);
    EXPECT_EQ(0x03, response.data[1]);
    EXPECT_EQ(0x0A, response.data[2]);
}

TEST_F(BmcModelTest, IdentityEchoAndUnknownCommands)
{
    EXPECT_EQ(0x00, Send(IPMI_CMD_GET_DEVICE_ID, {}, 0));
    EXPECT_EQ(16u, count);
    EXPECT_EQ(0x02, response.data[4]);
    EXPECT_EQ(0x00, Send(IMBSIM_CMD_ECHO, {9, 8, 7}, 0, IMBSIM_NETFN_ECHO));
    EXPECT_EQ(4u, count);
    EXPECT_EQ(7, response.data[2]);
    EXPECT_EQ(0xC1, Send(0x55, {}, 0));
    EXPECT_EQ(0xC1, Send(0x01, {}, 0, 0x0A));
}
