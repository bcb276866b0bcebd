// The simulated BMC's watchdog, identity and System Event Log, so that the test bed itself follows
// the IPMI rules.
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
        return SendAt(command, std::vector<uint8_t>(data), now, now, netFn);
    }

    uint8_t SendAt(uint8_t command, const std::vector<uint8_t> &data, int64_t now, int64_t systemTime, uint8_t netFn)
    {
        ImbRequestPacket request = {};
        request.networkFunction = netFn;
        request.command = command;
        request.dataLength = static_cast<uint8_t>(data.size());
        std::copy(data.begin(), data.end(), request.data);
        count = BmcHandleRequest(&bmc, &request, &response, now, systemTime);
        return response.completionCode;
    }

    uint8_t Storage(uint8_t command, const std::vector<uint8_t> &data, int64_t systemTime = kJanuary2026)
    {
        return SendAt(command, data, 0, systemTime, IPMI_NETFN_STORAGE);
    }

    // Get SEL Entry of a whole record: no reservation needed.
    uint8_t GetRecord(uint16_t id)
    {
        return Storage(IPMI_CMD_GET_SEL_ENTRY, {0x00, 0x00, uint8_t(id & 0xFF), uint8_t(id >> 8), 0x00, 0xFF});
    }

    uint16_t Reserve()
    {
        EXPECT_EQ(0x00, Storage(IPMI_CMD_RESERVE_SEL, {}));
        return static_cast<uint16_t>(response.data[0] | (response.data[1] << 8));
    }

    std::vector<uint8_t> Answered(size_t first = 0) const
    {
        return std::vector<uint8_t>(response.data + first, response.data + count - 1);
    }

    void SetSel(uint16_t capacity, uint16_t prefill)
    {
        ImbSimSelConfig config = {capacity, prefill, 0};
        SelReset(&bmc.sel, &config, kJanuary2026);
    }

    // 2026-01-01 00:00:00 UTC as FILETIME, and its seconds since 1970.
    static constexpr int64_t kJanuary2026 = 1767225600LL * 10000000 + 116444736000000000LL;
    static constexpr uint32_t kJanuary2026Seconds = 1767225600u;

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

static std::vector<uint8_t> Le32(uint32_t value)
{
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

// Get SEL Info as IPMI v2.0 lays it out; records keep the IDs the BMC gave them, which name them,
// with 0000h for the first and FFFFh for the last; the BMC stamps the time on all but OEM records
// without one, and refuses record types that are not its to store.
TEST_F(BmcModelTest, SelInfoAndRecordsByTheIdsTheBmcGives)
{
    EXPECT_EQ(0x00, Storage(IPMI_CMD_GET_SEL_INFO, {}));
    EXPECT_EQ((std::vector<uint8_t>{0x51, 0, 0, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0x02}), Answered())
        << "version 0x51, no entries, 2048 x 16 bytes free, Reserve SEL supported";
    EXPECT_EQ(0xCB, GetRecord(0x0000)) << "an empty SEL has no first record";
    std::vector<uint8_t> system = {0xAA, 0xBB, 0x02, 1, 2, 3, 4, 0x41, 0x00, 0x04, 0x12, 0x05, 0x6F, 0x01, 0xFF, 0xFF};
    std::vector<uint8_t> oem = {0, 0, 0xE0, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(0x00, Storage(IPMI_CMD_ADD_SEL_ENTRY, system));
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x00}), Answered());
    EXPECT_EQ(0x00, Storage(IPMI_CMD_ADD_SEL_ENTRY, oem, kJanuary2026 + 50000000));
    EXPECT_EQ((std::vector<uint8_t>{0x02, 0x00}), Answered());
    std::vector<uint8_t> bad = system;
    bad[2] = 0x01;
    EXPECT_EQ(0x80, Storage(IPMI_CMD_ADD_SEL_ENTRY, bad)) << "no record type the BMC stores";
    EXPECT_EQ(0xC7, Storage(IPMI_CMD_ADD_SEL_ENTRY, std::vector<uint8_t>(system.begin(), system.end() - 1)));

    ASSERT_EQ(0x00, GetRecord(0x0000));
    std::vector<uint8_t> first = {0x02, 0x00, 0x01, 0x00, 0x02};
    std::vector<uint8_t> stamp = Le32(kJanuary2026Seconds);
    first.insert(first.end(), stamp.begin(), stamp.end());
    first.insert(first.end(), system.begin() + 7, system.end());
    EXPECT_EQ(first, Answered()) << "the next ID, then the record with the BMC's ID and timestamp";
    ASSERT_EQ(0x00, GetRecord(0xFFFF));
    std::vector<uint8_t> last = {0xFF, 0xFF, 0x02, 0x00};
    last.insert(last.end(), oem.begin() + 2, oem.end());
    EXPECT_EQ(last, Answered()) << "the last record has no next one; an OEM record keeps its own bytes";
    EXPECT_EQ(0x00, GetRecord(0x0002));
    EXPECT_EQ(0xCB, GetRecord(0x0003));
    EXPECT_EQ(0x00, Storage(IPMI_CMD_GET_SEL_INFO, {}));
    std::vector<uint8_t> info = {0x51, 2, 0, 0xE0, 0x7F};
    std::vector<uint8_t> added = Le32(kJanuary2026Seconds + 5);
    info.insert(info.end(), added.begin(), added.end());
    info.insert(info.end(), {0, 0, 0, 0, 0x02});
    EXPECT_EQ(info, Answered()) << "two entries, 2046 x 16 bytes free, the last addition's time";
}

// Reading part of a record needs the reservation in force; a new one, any record added (by Add SEL
// Entry or an event) and a clear cancel it. Clear SEL takes the reservation and 'C' 'L' 'R'.
TEST_F(BmcModelTest, APartialReadOrAClearNeedsTheReservationThatAnAdditionOrAClearCancels)
{
    SetSel(16, 3);
    EXPECT_EQ(0xC5, Storage(IPMI_CMD_GET_SEL_ENTRY, {0x00, 0x00, 0x02, 0x00, 0x0A, 0x03})) << "no reservation";
    uint16_t first = Reserve();
    uint8_t lo = uint8_t(first & 0xFF), hi = uint8_t(first >> 8);
    ASSERT_EQ(0x00, Storage(IPMI_CMD_GET_SEL_ENTRY, {lo, hi, 0x02, 0x00, 0x0A, 0x03}));
    EXPECT_EQ((std::vector<uint8_t>{0x03, 0x00, 0x01, 0x30, 0x01}), Answered()) << "sensor type, number, event type";
    EXPECT_EQ(0xCA, Storage(IPMI_CMD_GET_SEL_ENTRY, {lo, hi, 0x02, 0x00, 0x0A, 0x07})) << "past the record's end";
    uint16_t second = Reserve();
    EXPECT_NE(first, second);
    EXPECT_EQ(0xC5, Storage(IPMI_CMD_GET_SEL_ENTRY, {lo, hi, 0x02, 0x00, 0x0A, 0x03})) << "replaced";
    lo = uint8_t(second & 0xFF), hi = uint8_t(second >> 8);
    EXPECT_EQ(0x00, SendAt(IPMI_CMD_PLATFORM_EVENT, {0x41, 0x04, 0x1F, 0x00, 0x6F, 0x06}, 0, kJanuary2026,
                           IPMI_NETFN_SENSOR_EVENT));
    EXPECT_EQ(0xC5, Storage(IPMI_CMD_GET_SEL_ENTRY, {lo, hi, 0x02, 0x00, 0x0A, 0x03})) << "an event was added";
    EXPECT_EQ(0xC5, Storage(IPMI_CMD_CLEAR_SEL, {lo, hi, 'C', 'L', 'R', 0xAA})) << "so no clear either";

    uint16_t third = Reserve();
    lo = uint8_t(third & 0xFF), hi = uint8_t(third >> 8);
    EXPECT_EQ(0xCC, Storage(IPMI_CMD_CLEAR_SEL, {lo, hi, 'C', 'L', 'X', 0xAA}));
    EXPECT_EQ(0xCC, Storage(IPMI_CMD_CLEAR_SEL, {lo, hi, 'C', 'L', 'R', 0x55}));
    EXPECT_EQ(0x00, Storage(IPMI_CMD_CLEAR_SEL, {lo, hi, 'C', 'L', 'R', 0x00}));
    EXPECT_EQ((std::vector<uint8_t>{0x01}), Answered()) << "the progress of an erasure: completed";
    EXPECT_EQ(4u, Value(bmc.sel.count)) << "asking for the progress erases nothing";
    EXPECT_EQ(0x00, Storage(IPMI_CMD_CLEAR_SEL, {lo, hi, 'C', 'L', 'R', 0xAA}, kJanuary2026 + 70000000));
    EXPECT_EQ((std::vector<uint8_t>{0x01}), Answered());
    EXPECT_EQ(0xCB, GetRecord(0x0000));
    EXPECT_EQ(0xC5, Storage(IPMI_CMD_CLEAR_SEL, {lo, hi, 'C', 'L', 'R', 0x00})) << "the clear cancelled it";
    EXPECT_EQ(0x00, Storage(IPMI_CMD_GET_SEL_INFO, {}));
    std::vector<uint8_t> erased = Le32(kJanuary2026Seconds + 7);
    erased.push_back(0x02);
    EXPECT_EQ(erased, Answered(9)) << "the erase's time, then the operations byte";
}

// A full SEL refuses additions with 0xC4, out of space, and its overflow flag says so until a clear;
// events from system software become records with the generator's ID and revision, event data 2 and
// 3 unspecified when left out. A BMC without a SEL knows none of these commands.
TEST_F(BmcModelTest, AFullSelRefusesAdditionsAndSaysSoWhileABmcWithoutOneKnowsNoneOfIt)
{
    SetSel(4, 3);
    EXPECT_EQ(0x00, SendAt(IPMI_CMD_PLATFORM_EVENT, {0x41, 0x04, 0x20, 0x00, 0x6F, 0x03}, 0, kJanuary2026,
                           IPMI_NETFN_SENSOR_EVENT));
    ASSERT_EQ(0x00, GetRecord(0xFFFF));
    std::vector<uint8_t> record = {0xFF, 0xFF, 0x04, 0x00, 0x02};
    std::vector<uint8_t> stamp = Le32(kJanuary2026Seconds);
    record.insert(record.end(), stamp.begin(), stamp.end());
    record.insert(record.end(), {0x41, 0x00, 0x04, 0x20, 0x00, 0x6F, 0x03, 0xFF, 0xFF});
    EXPECT_EQ(record, Answered());
    EXPECT_EQ(0xC7, SendAt(IPMI_CMD_PLATFORM_EVENT, {0x41, 0x04, 0x20, 0x00, 0x6F}, 0, 0, IPMI_NETFN_SENSOR_EVENT));

    EXPECT_EQ(0xC4, SendAt(IPMI_CMD_PLATFORM_EVENT, {0x41, 0x04, 0x1F, 0x00, 0x6F, 0x06, 0xFF, 0xFF}, 0, kJanuary2026,
                           IPMI_NETFN_SENSOR_EVENT));
    EXPECT_EQ(0xC4, Storage(IPMI_CMD_ADD_SEL_ENTRY, std::vector<uint8_t>(16, 0x02)));
    Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x01, 0x00, 0x10, 0x0A, 0x00}, 0);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 0);
    BmcAdvance(&bmc, 2000, kJanuary2026);
    EXPECT_EQ(1, Value(bmc.watchdog.events[0].logged)) << "the BMC meant to log it";
    EXPECT_EQ(4u, Value(bmc.sel.count)) << "but had no room";
    EXPECT_EQ(0x00, Storage(IPMI_CMD_GET_SEL_INFO, {}));
    EXPECT_EQ(0x00, response.data[3]) << "no byte free";
    EXPECT_EQ(0x82, response.data[13]) << "the overflow flag";
    uint16_t reservation = Reserve();
    Storage(IPMI_CMD_CLEAR_SEL, {uint8_t(reservation & 0xFF), uint8_t(reservation >> 8), 'C', 'L', 'R', 0xAA});
    Storage(IPMI_CMD_GET_SEL_INFO, {});
    EXPECT_EQ(0x02, response.data[13]) << "a clear ends the overflow";

    SetSel(0, 0);
    EXPECT_EQ(0xC1, Storage(IPMI_CMD_GET_SEL_INFO, {}));
    EXPECT_EQ(0xC1, Storage(IPMI_CMD_RESERVE_SEL, {}));
    EXPECT_EQ(0xC1, SendAt(IPMI_CMD_PLATFORM_EVENT, {0x41, 0x04, 0x1F, 0x00, 0x6F, 0x06}, 0, kJanuary2026,
                           IPMI_NETFN_SENSOR_EVENT));
}

// The watchdog logs a Watchdog 2 record (sensor type 23h, sensor-specific 6Fh) at the time each
// event was due: the pre-timeout interrupt with offset 08h, the expiry with the action taken as its
// offset, event data 2 the interrupt and the timer use; nothing with the don't-log bit.
TEST_F(BmcModelTest, TheWatchdogLogsItsInterruptAndExpiryUnlessToldNotTo)
{
    Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x23, 0x03, 0x10, 0x64, 0x00}, 0);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 0);
    BmcAdvance(&bmc, 20000, kJanuary2026 + 200000000);
    ASSERT_EQ(2u, Value(bmc.sel.count));
    std::vector<uint8_t> interrupt(bmc.sel.records[0], bmc.sel.records[0] + 16);
    std::vector<uint8_t> expected = {0x01, 0x00, 0x02};
    std::vector<uint8_t> stamp = Le32(kJanuary2026Seconds + 7);
    expected.insert(expected.end(), stamp.begin(), stamp.end());
    expected.insert(expected.end(), {0x20, 0x00, 0x04, 0x23, 0x81, 0x6F, 0xC8, 0x24, 0xFF});
    EXPECT_EQ(expected, interrupt) << "7 s after the start, by the BMC at 0x20";
    EXPECT_EQ((std::vector<uint8_t>{0x6F, 0xC3, 0x24, 0xFF}),
              std::vector<uint8_t>(bmc.sel.records[1] + 12, bmc.sel.records[1] + 16))
        << "power cycle at the expiry";
    EXPECT_EQ(Le32(kJanuary2026Seconds + 10), std::vector<uint8_t>(bmc.sel.records[1] + 3, bmc.sel.records[1] + 7));

    Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x00, 0x00, 0x10, 0x0A, 0x00}, 30000);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 30000);
    BmcAdvance(&bmc, 31000, kJanuary2026);
    ASSERT_EQ(3u, Value(bmc.sel.count));
    EXPECT_EQ(0xC0, bmc.sel.records[2][13]) << "no action: timer expired, status only";
    Send(IPMI_CMD_SET_WATCHDOG, {0x84, 0x01, 0x00, 0x10, 0x0A, 0x00}, 40000);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 40000);
    BmcAdvance(&bmc, 41000, kJanuary2026);
    EXPECT_EQ(0x10, Value(bmc.watchdog.expirationFlags)) << "it expired";
    EXPECT_EQ(3u, Value(bmc.sel.count)) << "and logged nothing";
}

// Firmware faults a drill must catch: a countdown that reaches 0 and stays there, and one that falls
// at half the real pace and so expires after twice the time.
TEST_F(BmcModelTest, AQuirkyTimerNeverExpiresOrCountsAtHalfPace)
{
    bmc.config.quirks = IMBSIM_QUIRK_NEVER_EXPIRES;
    Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x00, 0x00, 0x10, 0x64, 0x00}, 0);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 0);
    Send(IPMI_CMD_GET_WATCHDOG, {}, 60000);
    EXPECT_EQ((std::vector<uint8_t>{0x44, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00}), Answered())
        << "running at 0, no expiration flag";
    EXPECT_EQ(0u, Value(bmc.watchdog.eventCount));
    EXPECT_EQ(0u, Value(bmc.sel.count));

    ImbSimBmcConfig halfPace = bmc.config;
    halfPace.quirks = IMBSIM_QUIRK_HALF_PACE;
    BmcReset(&bmc, &halfPace, kTicksPerSecond);
    Send(IPMI_CMD_SET_WATCHDOG, {0x04, 0x00, 0x00, 0x10, 0x64, 0x00}, 100000);
    Send(IPMI_CMD_RESET_WATCHDOG, {}, 100000);
    Send(IPMI_CMD_GET_WATCHDOG, {}, 110000);
    EXPECT_EQ(50, response.data[6]) << "5 s counted in 10 s";
    BmcAdvance(&bmc, 119999, 119999);
    EXPECT_EQ(0u, Value(bmc.watchdog.eventCount));
    BmcAdvance(&bmc, 120000, 120000);
    EXPECT_EQ(1u, Value(bmc.watchdog.eventCount)) << "expired after 20 s";
}
