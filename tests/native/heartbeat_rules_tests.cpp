// The heartbeat loop's decisions and the names administrators read, without the BMC.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "heartbeat_rules.h"
#include "test_watchdog_settings.h"
#include "watchdog_names.h"

TEST(HeartbeatRules, AnIntervalTheDeadlineCannotOutlastIsReplaced)
{
    struct Case {
        uint32_t configured;
        bool read;
        WatchdogSettings settings;
        uint32_t used;
    } cases[] = {
        {45, true, Settings(3, 0, 300, 0), 45},
        {45, true, Settings(3, 0, 20, 0), 7},      // 45 + 5 >= 20: (20 - 5) / 2
        {15, true, Settings(3, 0, 20, 0), 7},      // 15 + 5 is not shorter than 20
        {14, true, Settings(3, 0, 20, 0), 14},
        {0, true, Settings(3, 0, 300, 0), 1},      // no flood
        {45, false, Settings(3, 0, 300, 0), 1},    // unreadable
        {200, true, Settings(3, 2, 300, 120), 87}, // the interrupt fires 180 s after a heartbeat
        {200, true, Settings(3, 0, 300, 120), 200},  // an interval without an interrupt does not count
        {45, true, Settings(3, 1, 10, 10), 1},     // nothing fits: one second
        {45, true, Settings(3, 0, 10, 0), 2},
        {0xFFFFFFFFu, true, Settings(3, 0, 300, 0), 147},  // no wrap-around below the deadline
        {6000, true, Settings(3, 0, 6553, 0), 6000},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.used, HeartbeatIntervalInUse(c.configured, c.read, c.settings))
            << c.configured << " s, timeout " << c.settings.timeoutValue << " s, interrupt "
            << int(c.settings.preTimeoutAction) << " at " << int(c.settings.preTimeoutInterval) << " s";
    }
    EXPECT_EQ(180u, WatchdogDeadlineSeconds(Settings(3, 2, 300, 120)));
    EXPECT_EQ(0u, WatchdogDeadlineSeconds(Settings(3, 2, 10, 255)));
}

TEST(HeartbeatRules, AReplacedIntervalIsReportedOncePerConfiguredValue)
{
    WatchdogSettings settings = Settings(3, 0, 20, 0);
    IntervalWatch watch = {};
    struct Step {
        uint32_t configured;
        bool read;
        bool due;
    } steps[] = {{45, true, true},  {45, true, false}, {50, true, true}, {10, true, false},
                 {50, true, true},  {0, true, false},  {0, false, false}, {50, true, true}};
    int index = 0;
    for (const Step &step : steps) {
        uint32_t used = HeartbeatIntervalInUse(step.configured, step.read, settings);
        EXPECT_EQ(step.due, IntervalWarningDue(&watch, step.configured, step.read, used)) << "step " << index++;
    }
}

TEST(HeartbeatRules, HealthChangesOnlyAtTheFirstFailureAndTheFirstSuccessAfter)
{
    HeartbeatHealth health = {};
    uint32_t failures = 99;
    EXPECT_EQ(kHealthUnchanged, NoteHeartbeat(&health, true, &failures));
    EXPECT_EQ(0u, failures);
    EXPECT_EQ(kHealthFirstFailure, NoteHeartbeat(&health, false, &failures));
    EXPECT_EQ(kHealthUnchanged, NoteHeartbeat(&health, false, &failures));
    EXPECT_EQ(kHealthUnchanged, NoteHeartbeat(&health, false, &failures));
    EXPECT_EQ(kHealthRecovered, NoteHeartbeat(&health, true, &failures));
    EXPECT_EQ(3u, failures);
    EXPECT_EQ(kHealthUnchanged, NoteHeartbeat(&health, true, &failures));
    EXPECT_EQ(kHealthFirstFailure, NoteHeartbeat(&health, false, &failures));
}

TEST(WatchdogNames, EveryUseActionInterruptAndFlag)
{
    const char *uses[8] = {"reserved", "BIOS FRB2", "BIOS/POST", "OS Load", "SMS/OS", "OEM", "reserved", "reserved"};
    for (uint8_t use = 0; use < 8; ++use) EXPECT_STREQ(uses[use], TimerUseName(use));
    const char *actions[5] = {"no action", "hard reset", "power down", "power cycle", "reserved"};
    for (uint8_t action = 0; action < 5; ++action) EXPECT_STREQ(actions[action], TimeoutActionName(action));
    EXPECT_STREQ("reserved", TimeoutActionName(7));
    const char *interrupts[5] = {"none", "SMI", "NMI / diagnostic interrupt", "messaging interrupt", "reserved"};
    for (uint8_t interrupt = 0; interrupt < 5; ++interrupt) {
        EXPECT_STREQ(interrupts[interrupt], PreTimeoutInterruptName(interrupt));
    }
    struct Flags {
        uint8_t bits;
        const char *text;
    } flags[] = {{0x00, "none"},
                 {0x10, "SMS/OS"},
                 {0x3E, "BIOS FRB2, BIOS/POST, OS Load, SMS/OS, OEM"},
                 {0xC1, "bit 0, bit 6, bit 7"}};
    for (const Flags &f : flags) {
        char text[80];
        FormatExpirationFlags(f.bits, text, sizeof(text));
        EXPECT_STREQ(f.text, text) << int(f.bits);
    }
    char small[8];
    FormatExpirationFlags(0x3E, small, sizeof(small));
    EXPECT_LT(strlen(small), sizeof(small)) << "cut, never past the buffer";
}

TEST(WatchdogNames, CountdownsInSecondsWithOneDecimal)
{
    struct Case {
        uint16_t counts;
        const char *text;
    } cases[] = {{0, "0.0 s"}, {1, "0.1 s"}, {3000, "300.0 s"}, {65535, "6553.5 s"}};
    for (const Case &c : cases) {
        char text[16];
        FormatCountdown(c.counts, text, sizeof(text));
        EXPECT_STREQ(c.text, text);
    }
}
