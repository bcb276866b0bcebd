// The watchdog messages and the configuration rules of the service, byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "configuration/service_configuration_rules.h"
#include "test_watchdog_settings.h"
#include "watchdog/watchdog_messages.h"

static std::vector<uint8_t> Bytes(const uint8_t *data, size_t count)
{
    return std::vector<uint8_t>(data, data + count);
}

static std::vector<uint8_t> ArmMessage(const WatchdogSettings &settings)
{
    uint8_t message[kSetWatchdogMessageLength + 1];
    memset(message, 0xEE, sizeof(message));
    BuildArmMessage(settings, message);
    EXPECT_EQ(0xEE, message[kSetWatchdogMessageLength]) << "nothing written past the message";
    return Bytes(message, kSetWatchdogMessageLength);
}

TEST(WatchdogMessages, ArmWithTheInstallValues)
{
    std::vector<uint8_t> expected = {0x20, 0x18, 0x24, 0x04, 0x03, 0x00, 0x10, 0xB8, 0x0B};
    EXPECT_EQ(expected, ArmMessage(Settings(3, 0, 300, 0)));
}

TEST(WatchdogMessages, CountdownIsTenthsOfSecondsLowByteFirst)
{
    struct Case {
        uint16_t seconds;
        uint8_t low, high;
    } cases[] = {{10, 0x64, 0x00}, {300, 0xB8, 0x0B}, {3000, 0x30, 0x75}, {6553, 0xFA, 0xFF}};
    for (const Case &c : cases) {
        std::vector<uint8_t> message = ArmMessage(Settings(3, 0, c.seconds, 0));
        EXPECT_EQ(c.low, message[7]) << c.seconds << " s";
        EXPECT_EQ(c.high, message[8]) << c.seconds << " s";
    }
}

TEST(WatchdogMessages, ActionsBytePutsThePreTimeoutInterruptInTheHighNibble)
{
    EXPECT_EQ(0x31, ArmMessage(Settings(1, 3, 300, 0))[4]);
    EXPECT_EQ(0x23, ArmMessage(Settings(3, 2, 300, 0))[4]);
    EXPECT_EQ(0x00, ArmMessage(Settings(0, 0, 300, 0))[4]);
    std::vector<uint8_t> withInterval = ArmMessage(Settings(1, 1, 600, 255));
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x24, 0x04, 0x11, 0xFF, 0x10, 0x70, 0x17}), withInterval);
}

TEST(WatchdogMessages, StopAndResetAreFixed)
{
    uint8_t stop[kSetWatchdogMessageLength];
    BuildStopMessage(stop);
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x24, 0x04, 0x00, 0x00, 0x10, 0xB8, 0x0B}),
              Bytes(stop, sizeof(stop)));
    uint8_t reset[kResetWatchdogMessageLength];
    BuildResetMessage(reset);
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x22}), Bytes(reset, sizeof(reset)));
}

TEST(WatchdogMessages, GetAndTheShutdownArm)
{
    uint8_t get[kGetWatchdogMessageLength];
    BuildGetMessage(get);
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x25}), Bytes(get, sizeof(get)));
    uint8_t shutdown[kSetWatchdogMessageLength + 1];
    memset(shutdown, 0xEE, sizeof(shutdown));
    BuildShutdownArmMessage(Settings(3, 2, 300, 10), 600, shutdown);
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x24, 0x44, 0x23, 0x0A, 0x10, 0x70, 0x17}),
              Bytes(shutdown, kSetWatchdogMessageLength))
        << "don't-stop bit, the configured actions, 600 s";
    EXPECT_EQ(0xEE, shutdown[kSetWatchdogMessageLength]);
    BuildShutdownArmMessage(Settings(1, 2, 300, 20), 20, shutdown);
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x24, 0x44, 0x01, 0x00, 0x10, 0xC8, 0x00}),
              Bytes(shutdown, kSetWatchdogMessageLength))
        << "an interval the countdown cannot hold drops the interrupt, which the BMC would refuse";
    BuildShutdownArmMessage(Settings(3, 0, 300, 30), 6553, shutdown);
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x18, 0x24, 0x44, 0x03, 0x00, 0x10, 0xFA, 0xFF}),
              Bytes(shutdown, kSetWatchdogMessageLength));
}

TEST(WatchdogMessages, GetAnswerDecodesAndAShortOneIsRefused)
{
    const uint8_t answer[9] = {0x44, 0x23, 0x0A, 0x10, 0xB8, 0x0B, 0x2C, 0x01, 0x99};
    WatchdogReading reading = {};
    EXPECT_FALSE(DecodeWatchdogReading(answer, 7, &reading));
    EXPECT_FALSE(DecodeWatchdogReading(nullptr, 8, &reading));
    ASSERT_TRUE(DecodeWatchdogReading(answer, 9, &reading));
    EXPECT_EQ(4, ReadingTimerUse(reading));
    EXPECT_TRUE(ReadingRunning(reading));
    EXPECT_FALSE(ReadingDontLog(reading));
    EXPECT_EQ(3, ReadingTimeoutAction(reading));
    EXPECT_EQ(2, ReadingPreTimeoutInterrupt(reading));
    EXPECT_EQ(10, reading.preTimeoutInterval);
    EXPECT_EQ(0x10, reading.expirationFlags);
    EXPECT_EQ(3000, reading.initialCountdown);
    EXPECT_EQ(300, reading.presentCountdown);
}

TEST(WatchdogMessages, ArmIsComparedFieldByFieldWithWhatTheBmcStored)
{
    uint8_t arm[kSetWatchdogMessageLength];
    BuildArmMessage(Settings(3, 2, 300, 10), arm);
    const uint8_t same[8] = {0x44, 0x23, 0x0A, 0x00, 0xB8, 0x0B, 0x00, 0x00};  // running: not a difference
    WatchdogReading reading = {};
    ASSERT_TRUE(DecodeWatchdogReading(same, 8, &reading));
    ArmedFieldDifference differences[kArmedFieldCount];
    EXPECT_EQ(0u, CompareWithArmMessage(arm, reading, differences));
    const uint8_t other[8] = {0x81, 0x03, 0x00, 0x00, 0x2C, 0x01, 0x00, 0x00};
    ASSERT_TRUE(DecodeWatchdogReading(other, 8, &reading));
    ASSERT_EQ(4u, CompareWithArmMessage(arm, reading, differences));
    EXPECT_EQ(kArmedTimerUse, differences[0].field);
    EXPECT_EQ(0x04u, differences[0].set);
    EXPECT_EQ(0x81u, differences[0].stored);
    EXPECT_EQ(kArmedTimerActions, differences[1].field);
    EXPECT_EQ(0x23u, differences[1].set);
    EXPECT_EQ(0x03u, differences[1].stored);
    EXPECT_EQ(kArmedPreTimeoutInterval, differences[2].field);
    EXPECT_EQ(kArmedInitialCountdown, differences[3].field);
    EXPECT_EQ(3000u, differences[3].set);
    EXPECT_EQ(300u, differences[3].stored);
}

TEST(WatchdogMessages, OutcomeNamesTheErrorOrTheCompletionCode)
{
    char text[32];
    DescribeOutcome({258, 0xFF, 0}, text, sizeof(text));
    EXPECT_STREQ("error 258 (no answer in time)", text);
    DescribeOutcome({55, 0xFF, 0}, text, sizeof(text));
    EXPECT_STREQ("error 55", text);
    DescribeOutcome({0, 0x80, 0}, text, sizeof(text));
    EXPECT_STREQ("completion code 0x80", text);
    EXPECT_TRUE(OutcomeSucceeded({0, 0x00, 8}));
    EXPECT_FALSE(OutcomeSucceeded({0, 0xC0, 0}));
    EXPECT_FALSE(OutcomeSucceeded({55, 0x00, 0}));
}

static uint32_t Used(const char *name, bool read, uint32_t number, bool *kept)
{
    for (const ConfigurationValueRule &rule : kLoadedValueRules) {
        if (strcmp(rule.name, name) != 0) continue;
        uint32_t used = 0xDEAD;
        *kept = JudgeConfigurationValue(rule, read, number, &used);
        return used;
    }
    ADD_FAILURE() << "no rule for " << name;
    return 0;
}

TEST(ConfigurationRules, RangesAndRepairValues)
{
    struct Case {
        const char *name;
        uint32_t number;
        bool kept;
        uint32_t used;
    } cases[] = {
        {"TimeoutValue", 9, false, 3000},      {"TimeoutValue", 10, true, 10},
        {"TimeoutValue", 6553, true, 6553},    {"TimeoutValue", 6554, false, 3000},
        {"TimeoutValue", 65535, false, 3000},  {"TimeoutValue", 0x1000012C, false, 3000},
        {"TimeoutAction", 4, false, 3},        {"TimeoutAction", 3, true, 3},
        {"TimeoutAction", 0, true, 0},         {"TimeoutAction", 259, true, 3},
        {"TimeoutAction", 256, true, 0},       {"TimeoutAction", 0x104, false, 3},
        {"PreTimeoutAction", 7, false, 0},     {"PreTimeoutAction", 2, true, 2},
        {"PreTimeoutAction", 258, false, 0},   {"PreTimeoutInterval", 255, true, 255},
        {"PreTimeoutInterval", 256, false, 0},
    };
    for (const Case &c : cases) {
        bool kept = !c.kept;
        EXPECT_EQ(c.used, Used(c.name, true, c.number, &kept)) << c.name << " " << c.number;
        EXPECT_EQ(c.kept, kept) << c.name << " " << c.number;
    }
}

TEST(ConfigurationRules, AValueNotReadIsRepairedWhateverTheNumber)
{
    bool kept = true;
    EXPECT_EQ(3u, Used("TimeoutAction", false, 1, &kept));
    EXPECT_FALSE(kept);
    EXPECT_EQ(3000u, Used("TimeoutValue", false, 300, &kept));
    EXPECT_EQ(0u, Used("PreTimeoutAction", false, 2, &kept));
    EXPECT_EQ(0u, Used("PreTimeoutInterval", false, 20, &kept));
}

TEST(ConfigurationRules, DescriptionBlockIsTheTextThenZerosToOneKilobyte)
{
    uint8_t block[kDescriptionBlockSize + 1];
    memset(block, 0xEE, sizeof(block));
    BuildDescriptionBlock(block);
    EXPECT_EQ(360u, strlen(kServiceDescription));
    EXPECT_EQ(0, memcmp(block, kServiceDescription, 360));
    for (size_t i = 360; i < kDescriptionBlockSize; ++i) ASSERT_EQ(0, block[i]) << "byte " << i;
    EXPECT_EQ(0xEE, block[kDescriptionBlockSize]);
    const char *text = kServiceDescription;
    EXPECT_EQ(0, strncmp(text, "This ASR Service is a OS monitored service.", 43));
    const char *second = strchr(text, '\n') + 1;
    EXPECT_STREQ("Useage: \n -timeout [none|hardreset|poweroff|powercycle] \n -pretimeout [none|smi|nmi|msgint] ",
                 second);
}

TEST(ConfigurationRules, ShutdownTimeoutIsOnOnlyInItsRange)
{
    EXPECT_EQ(0, JudgeShutdownTimeout(false, 600));
    EXPECT_EQ(0, JudgeShutdownTimeout(true, 0));
    EXPECT_EQ(0, JudgeShutdownTimeout(true, 9));
    EXPECT_EQ(10, JudgeShutdownTimeout(true, 10));
    EXPECT_EQ(6553, JudgeShutdownTimeout(true, 6553));
    EXPECT_EQ(0, JudgeShutdownTimeout(true, 6554));
    EXPECT_EQ(0, JudgeShutdownTimeout(true, 0x10000 + 600)) << "not cut to 16 bits";
}

TEST(HeartbeatWait, SecondsBecomeMillisecondsWithoutWrapping)
{
    EXPECT_EQ(0u, HeartbeatWaitMilliseconds(0));
    EXPECT_EQ(45000u, HeartbeatWaitMilliseconds(45));
    EXPECT_EQ(4294967000u, HeartbeatWaitMilliseconds(4294967));
    EXPECT_EQ(0xFFFFFFFEu, HeartbeatWaitMilliseconds(4294968)) << "clamped, not wrapped to 704 ms";
    EXPECT_EQ(0xFFFFFFFEu, HeartbeatWaitMilliseconds(0xFFFFFFFFu)) << "never INFINITE";
}
