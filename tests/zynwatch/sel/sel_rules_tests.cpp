// The SEL's request bytes, its answers decoded, what its records mean, and the search for the last
// watchdog expiry from the log's end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sel/sel_rules.h"

static std::vector<uint8_t> Bytes(const uint8_t *bytes, size_t count)
{
    return std::vector<uint8_t>(bytes, bytes + count);
}

TEST(SelMessages, RequestBytesAsTheBmcTakesThem)
{
    uint8_t info[kGetSelInfoMessageLength], entry[kGetSelEntryMessageLength], event[kOsEventMessageLength];
    BuildGetSelInfoMessage(info);
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x28, 0x40}), Bytes(info, sizeof(info))) << "Storage, Get SEL Info";
    BuildGetSelEntryMessage(0x1234, entry);
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x28, 0x43, 0x00, 0x00, 0x34, 0x12, 0x00, 0xFF}), Bytes(entry, sizeof(entry)))
        << "no reservation, the record ID low byte first, the whole record from offset 0";
    BuildOsEventMessage(kOsBootCompleted, event);
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x10, 0x02, 0x41, 0x04, 0x1F, 0x00, 0x6F, 0x06, 0xFF, 0xFF}),
              Bytes(event, sizeof(event)))
        << "Platform Event from system management software: OS Boot, boot completed";
    BuildOsEventMessage(kOsGracefulShutdown, event);
    EXPECT_EQ((std::vector<uint8_t>{0x20, 0x10, 0x02, 0x41, 0x04, 0x20, 0x00, 0x6F, 0x03, 0xFF, 0xFF}),
              Bytes(event, sizeof(event)))
        << "OS Stop / Shutdown, OS graceful shutdown";
    EXPECT_STREQ("OS boot completed", OsEventName(kOsBootCompleted));
    EXPECT_STREQ("OS graceful shutdown", OsEventName(kOsGracefulShutdown));
}

TEST(SelMessages, AnswersDecodedAndShortOnesRefused)
{
    const uint8_t info[kSelInfoLength] = {0x51, 0x10, 0x00, 0x0F, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x02};
    SelInfo decoded = {};
    ASSERT_TRUE(DecodeSelInfo(info, sizeof(info), &decoded));
    EXPECT_EQ(16, decoded.entries);
    EXPECT_EQ(15, decoded.freeBytes);
    EXPECT_EQ(0x04030201u, decoded.lastAddition);
    EXPECT_TRUE(SelFull(decoded)) << "no room for a 16-byte record";
    decoded.freeBytes = 16;
    EXPECT_FALSE(SelFull(decoded));
    decoded.operations = 0x82;
    EXPECT_TRUE(SelFull(decoded)) << "the overflow flag: events were dropped";
    EXPECT_FALSE(DecodeSelInfo(info, sizeof(info) - 1, &decoded));

    const uint8_t entry[kSelEntryLength] = {0xFF, 0xFF, 0x07, 0x00, 0x02, 0x10, 0x20, 0x30, 0x40,
                                            0x20, 0x00, 0x04, 0x23, 0x81, 0x6F, 0xC3, 0x24, 0xFF};
    uint16_t next = 0;
    SelRecord record = {};
    ASSERT_TRUE(DecodeSelEntry(entry, sizeof(entry), &next, &record));
    EXPECT_EQ(0xFFFF, next);
    EXPECT_EQ(7, record.id);
    EXPECT_EQ(0x40302010u, record.timestamp);
    EXPECT_EQ(0x20, record.generator);
    EXPECT_EQ(0x23, record.sensorType);
    EXPECT_EQ(0xC3, record.data[0]);
    EXPECT_FALSE(DecodeSelEntry(entry, sizeof(entry) - 1, &next, &record));
}

static SelRecord Event(uint8_t sensorType, uint8_t data1, uint8_t data2 = 0xFF, uint8_t eventType = 0x6F)
{
    SelRecord record = {};
    record.type = 0x02;
    record.sensorType = sensorType;
    record.eventType = eventType;
    record.data[0] = data1;
    record.data[1] = data2;
    record.data[2] = 0xFF;
    return record;
}

// Offsets of the IPMI's sensor-specific tables, from any generator; assertions only.
TEST(SelRules, RecordsThatTellOfExpiriesBootsAndShutdowns)
{
    for (uint8_t action = 0; action <= 3; ++action) {
        SelRecord expiry = Event(0x23, uint8_t(0xC0 | action), 0x04);
        EXPECT_EQ(kSelWatchdogExpiry, ClassifySelRecord(expiry)) << int(action);
        EXPECT_EQ(action, SelExpiryAction(expiry));
        EXPECT_EQ(action == 0, IsDrillExpiry(expiry)) << "a drill's expiry takes no action";
    }
    EXPECT_EQ(kSelOtherRecord, ClassifySelRecord(Event(0x23, 0xC8, 0x24))) << "the pre-timeout interrupt";
    EXPECT_FALSE(IsDrillExpiry(Event(0x23, 0xC0, 0x03))) << "OS Load's timer, not SMS/OS";
    EXPECT_TRUE(IsDrillExpiry(Event(0x23, 0xC0, 0x0F))) << "a BMC that leaves the use unspecified";
    EXPECT_EQ(kSelOsBoot, ClassifySelRecord(Event(0x1F, 0x01)));
    EXPECT_EQ(kSelOsBoot, ClassifySelRecord(Event(0x1F, 0x06)));
    EXPECT_EQ(kSelOtherRecord, ClassifySelRecord(Event(0x1F, 0x07))) << "an installation started";
    EXPECT_EQ(kSelOsShutdown, ClassifySelRecord(Event(0x20, 0x03)));
    EXPECT_EQ(kSelOsShutdown, ClassifySelRecord(Event(0x20, 0x02)));
    EXPECT_EQ(kSelOtherRecord, ClassifySelRecord(Event(0x20, 0x01))) << "a run-time critical stop";
    EXPECT_EQ(kSelOtherRecord, ClassifySelRecord(Event(0x23, 0xC3, 0x04, 0xEF))) << "a deassertion";
    SelRecord oem = Event(0x23, 0xC3);
    oem.type = 0xC0;
    EXPECT_EQ(kSelOtherRecord, ClassifySelRecord(oem));
}

// Fed from the newest record back: the expiry, then whichever of a shutdown or a boot comes first.
TEST(SelRules, TheSearchFromTheEndFindsTheExpiryAndWhatCameBeforeIt)
{
    struct Case {
        std::vector<SelRecord> newestFirst;
        bool found;
        ShutdownBefore before;
        uint32_t read;
    } cases[] = {
        {{Event(0x01, 0x07), Event(0x23, 0xC3, 0x04), Event(0x20, 0x03), Event(0x1F, 0x06), Event(0x01, 0x07)},
         true, kShutdownBeforeYes, 3},
        {{Event(0x23, 0xC1, 0x04), Event(0x01, 0x07), Event(0x1F, 0x06), Event(0x20, 0x03)}, true, kShutdownBeforeNo, 3},
        {{Event(0x23, 0xC3, 0x04), Event(0x23, 0xC0, 0x04), Event(0x1F, 0x06)}, true, kShutdownBeforeNo, 3},
        {{Event(0x23, 0xC3, 0x04), Event(0x01, 0x07)}, true, kShutdownBeforeUnknown, 2},
        {{Event(0x1F, 0x06), Event(0x20, 0x03)}, false, kShutdownBeforeUnknown, 2},
    };
    for (const Case &c : cases) {
        SelHistory history;
        BeginSelHistory(&history);
        for (const SelRecord &record : c.newestFirst) {
            if (NoteOlderSelRecord(&history, record)) break;
        }
        EXPECT_EQ(c.found, history.expiryFound);
        EXPECT_EQ(c.before, history.shutdownBefore);
        EXPECT_EQ(c.read, history.recordsRead) << "the search ends once decided";
        EXPECT_EQ(c.before != kShutdownBeforeUnknown, history.decided);
    }
}

TEST(SelRules, TimestampsAsDatesAndBeforeTheClockWasSet)
{
    char text[48];
    FormatSelTime(1796795537u, text, sizeof(text));
    EXPECT_STREQ("2026-12-09 05:52:17", text);
    FormatSelTime(1709164800u, text, sizeof(text));
    EXPECT_STREQ("2024-02-29 00:00:00", text) << "a leap day";
    FormatSelTime(951782400u, text, sizeof(text));
    EXPECT_STREQ("2000-02-29 00:00:00", text) << "a leap day of a century divisible by 400";
    FormatSelTime(4102444799u, text, sizeof(text));
    EXPECT_STREQ("2099-12-31 23:59:59", text);
    EXPECT_TRUE(FormatSelTimeIso(1796795537u, text, sizeof(text)));
    EXPECT_STREQ("2026-12-09T05:52:17", text);
    FormatSelTime(1234, text, sizeof(text));
    EXPECT_STREQ("1234 s after the BMC started", text);
    EXPECT_FALSE(FormatSelTimeIso(kSelPreInitLimit, text, sizeof(text)));
}

TEST(SelRules, SelEventsIsAFourByteDwordOfZeroOrOne)
{
    bool on = false;
    char reason[160] = "";
    EXPECT_TRUE(JudgeSelEvents(4, 4, 0, &on, reason, sizeof(reason)));
    EXPECT_FALSE(on);
    EXPECT_TRUE(JudgeSelEvents(4, 4, 1, &on, reason, sizeof(reason)));
    EXPECT_TRUE(on);
    EXPECT_FALSE(JudgeSelEvents(4, 4, 2, &on, reason, sizeof(reason)));
    EXPECT_TRUE(on) << "an unusable value leaves the events on";
    EXPECT_STREQ("2 is neither 0 (off) nor 1 (on); the events are written", reason);
    EXPECT_FALSE(JudgeSelEvents(1, 2, 0, &on, reason, sizeof(reason)));
    EXPECT_STREQ("it is not a REG_DWORD of 4 bytes; the events are written", reason);
    EXPECT_FALSE(JudgeSelEvents(4, 8, 0, &on, reason, sizeof(reason)));
    EXPECT_TRUE(on);
}
