// The heartbeat loop's decisions and the names administrators read, without the BMC.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "service/service_outcome.h"
#include "service/settings_settle.h"
#include "test_watchdog_settings.h"
#include "watchdog/heartbeat_rules.h"
#include "watchdog/watchdog_messages.h"
#include "watchdog/watchdog_names.h"

// Bytes as "20 18 24".
static std::string HexText(const uint8_t *bytes, size_t count)
{
    std::string text;
    char piece[4];
    for (size_t i = 0; i < count; ++i) {
        snprintf(piece, sizeof(piece), "%02X", bytes[i]);
        text += (i != 0 ? " " : "") + std::string(piece);
    }
    return text;
}

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

// A pre-timeout interrupt less than 30 s after a heartbeat would interrupt a healthy server at one
// slow answer, and one not shorter than the timeout is refused by the BMC: both are armed without
// the interrupt. Without an interrupt the interval means nothing and is armed as 0, so a BMC never
// refuses it either.
TEST(HeartbeatRules, APreTimeoutInterruptIsArmedOnlyWithThirtySecondsOfRoom)
{
    struct Case {
        WatchdogSettings configured;
        bool lacksRoom;
        uint8_t interrupt, interval;
        uint32_t deadline;
    } cases[] = {
        {Settings(3, 2, 300, 120), false, 2, 120, 180},
        {Settings(3, 2, 50, 20), false, 2, 20, 30},  // exactly 30 s of room
        {Settings(3, 2, 49, 20), true, 0, 0, 49},
        {Settings(3, 2, 25, 20), true, 0, 0, 25},    // the interrupt 5 s after each heartbeat
        {Settings(3, 1, 20, 20), true, 0, 0, 20},    // as long as the timeout: refused by the BMC
        {Settings(1, 3, 10, 255), true, 0, 0, 10},
        {Settings(3, 0, 20, 255), false, 0, 0, 20},  // no interrupt: nothing to warn about
        {Settings(3, 0, 300, 120), false, 0, 0, 300},
        {Settings(3, 0, 300, 0), false, 0, 0, 300},
    };
    for (const Case &c : cases) {
        const WatchdogSettings &configured = c.configured;
        SCOPED_TRACE(std::to_string(configured.preTimeoutAction) + " at " + std::to_string(configured.preTimeoutInterval) +
                     " s of " + std::to_string(configured.timeoutValue) + " s");
        EXPECT_EQ(c.lacksRoom, PreTimeoutLacksRoom(configured));
        WatchdogSettings armed = ArmedSettings(configured);
        EXPECT_EQ(c.interrupt, armed.preTimeoutAction);
        EXPECT_EQ(c.interval, armed.preTimeoutInterval);
        EXPECT_EQ(configured.timeoutAction, armed.timeoutAction);
        EXPECT_EQ(configured.timeoutValue, armed.timeoutValue);
        EXPECT_EQ(c.deadline, WatchdogDeadlineSeconds(armed));
    }
    uint8_t arm[kSetWatchdogMessageLength];
    BuildArmMessage(ArmedSettings(Settings(3, 0, 300, 0)), arm);
    EXPECT_EQ("20 18 24 04 03 00 10 B8 0B", HexText(arm, sizeof(arm))) << "the install values armed as ever";
    BuildArmMessage(ArmedSettings(Settings(3, 2, 25, 20)), arm);
    EXPECT_EQ("20 18 24 04 03 00 10 FA 00", HexText(arm, sizeof(arm))) << "the timeout action alone";
}

// One failed heartbeat costs the retry pace, not the interval: 2 s, or the interval when shorter.
TEST(HeartbeatRules, AFailedHeartbeatIsTriedAgainAtTheRetryPace)
{
    EXPECT_EQ(12u, PauseAfterHeartbeat(12, true));
    EXPECT_EQ(2u, PauseAfterHeartbeat(12, false));
    EXPECT_EQ(2u, PauseAfterHeartbeat(240, false));
    EXPECT_EQ(2u, PauseAfterHeartbeat(2, false));
    EXPECT_EQ(1u, PauseAfterHeartbeat(1, false));
    EXPECT_EQ(1u, PauseAfterHeartbeat(1, true));
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
    EXPECT_EQ(kHealthUnchanged, NoteHeartbeat(&health, true, 1000, &failures));
    EXPECT_EQ(0u, failures);
    EXPECT_EQ(kHealthFirstFailure, NoteHeartbeat(&health, false, 2000, &failures));
    EXPECT_EQ(kHealthUnchanged, NoteHeartbeat(&health, false, 4000, &failures));
    EXPECT_EQ(kHealthUnchanged, NoteHeartbeat(&health, false, 6000, &failures));
    EXPECT_EQ(2000u, health.failingSinceMs) << "since the first failure of the run";
    EXPECT_EQ(kHealthRecovered, NoteHeartbeat(&health, true, 8000, &failures));
    EXPECT_EQ(3u, failures);
    EXPECT_EQ(8000u, health.lastSuccessMs);
    EXPECT_EQ(kHealthUnchanged, NoteHeartbeat(&health, true, 9000, &failures));
    EXPECT_EQ(kHealthFirstFailure, NoteHeartbeat(&health, false, 10000, &failures));
}

// Heartbeats failing for a third of the deadline, or 30 s, whichever is shorter, are a lasting
// failure: told once per run of failures, with the seconds left of the countdown that the last
// heartbeat to succeed started. A flap shorter than that is left to the hourly entries.
TEST(HeartbeatRules, AFailureThatLastsIsToldOnceWithTheTimeTheBmcActs)
{
    const WatchdogSettings installed = Settings(3, 0, 300, 0);
    EXPECT_EQ(30000u, LastingFailureMs(installed));
    EXPECT_EQ(20000u, LastingFailureMs(Settings(3, 2, 300, 240))) << "a third of the 60 s to the interrupt";
    EXPECT_EQ(3333u, LastingFailureMs(Settings(3, 0, 10, 0)));
    HeartbeatHealth health = {};
    uint32_t failures = 0;
    NoteHeartbeat(&health, true, 100000, &failures);
    NoteHeartbeat(&health, false, 101000, &failures);
    for (uint64_t now = 101000; now < 131000; now += 2000) {
        NoteHeartbeat(&health, false, now, &failures);
        ASSERT_FALSE(LastingFailureDue(&health, installed, now)) << now;
    }
    EXPECT_TRUE(LastingFailureDue(&health, installed, 131000));
    EXPECT_EQ(269u, SecondsUntilTimeout(health, installed, 131000)) << "300 s from the heartbeat at 100 s";
    EXPECT_FALSE(LastingFailureDue(&health, installed, 133000)) << "once per run";
    EXPECT_EQ(0u, SecondsUntilTimeout(health, installed, 400001));
    NoteHeartbeat(&health, true, 135000, &failures);
    EXPECT_FALSE(LastingFailureDue(&health, installed, 135000));
    NoteHeartbeat(&health, false, 137000, &failures);
    EXPECT_FALSE(LastingFailureDue(&health, installed, 166999));
    EXPECT_TRUE(LastingFailureDue(&health, installed, 167000)) << "the next run is told again";
}

// The recovery from a lasting failure is written whatever the hourly limit, and counts the rest.
TEST(HeartbeatRules, TheRecoveryFromALastingFailureIsWrittenWhateverTheLimit)
{
    HealthLog log = {};
    UnwrittenHealth unwritten = {};
    ASSERT_TRUE(HealthEntryDue(&log, kHealthRecovered, 1000, &unwritten));
    EXPECT_FALSE(HealthEntryDue(&log, kHealthRecovered, 3000, &unwritten)) << "within the hour";
    ASSERT_TRUE(HealthEntryDue(&log, kHealthRecovered, 60000, &unwritten, true));
    EXPECT_EQ(1u, unwritten.recoveries) << "the one left out at 3 s";
    EXPECT_FALSE(HealthEntryDue(&log, kHealthRecovered, 61000, &unwritten)) << "the limit runs from the forced entry";
}

// A suspend's stop is tried every 100 ms while Windows waits for the handler, then at the usual pace.
TEST(HeartbeatRules, ASuspendsStopIsTriedAtShortPausesWhileWindowsWaits)
{
    EXPECT_EQ(100u, SuspendStopPauseMs(0));
    EXPECT_EQ(100u, SuspendStopPauseMs(1499));
    EXPECT_EQ(1000u, SuspendStopPauseMs(1500));
    EXPECT_TRUE(StopRetryDue(3, 9000)) << "and for the stop's 10 s";
}

// While the heartbeats are withheld the timer must count down to the BMC's action: a timer found
// stopped is armed again, unless it stopped because it expired and the BMC acted.
TEST(HeartbeatRules, AWithheldTimerFoundStoppedWithoutExpiringIsArmedAgain)
{
    struct Case {
        uint8_t timerUse, expirationFlags;
        bool rearm;
        const char *why;
    } cases[] = {
        {0x44, 0x00, false, "running"},
        {0x44, 0x10, false, "running, an old expiry"},
        {0x04, 0x00, true, "stopped, as by a sleep or another tool's stop"},
        {0x00, 0x00, true, "settings lost by a BMC reset"},
        {0x04, 0x10, false, "expired: the BMC has acted"},
        {0x00, 0x10, false, "expired, then the BMC was reset"},
        {0x04, 0x08, true, "stopped, the OS Load timer expired"},
    };
    for (const Case &c : cases) {
        WatchdogReading reading = {c.timerUse, 0x03, 0, c.expirationFlags, 3000, 0};
        EXPECT_EQ(c.rearm, WithheldTimerNeedsRearm(reading)) << c.why;
    }
}

// A BMC busy every two seconds, by a fake clock: within an hour one warning and one recovery
// entry; the first of each kind after the hour counts every change that was left out.
TEST(HeartbeatRules, AFlappingBmcWritesOneEntryOfEachKindAnHourAndCountsTheRest)
{
    HealthLog log = {};
    UnwrittenHealth unwritten = {99, 99};
    const uint64_t start = 5000;
    EXPECT_FALSE(HealthEntryDue(&log, kHealthUnchanged, start, &unwritten));
    int failuresWritten = 0, recoveriesWritten = 0;
    uint64_t now = start;
    for (; now < start + kHealthEntryPeriodMs; now += 2000) {
        HealthChange change = (now / 2000) % 2 == 0 ? kHealthFirstFailure : kHealthRecovered;
        if (!HealthEntryDue(&log, change, now, &unwritten)) continue;
        EXPECT_EQ(0u, unwritten.failures) << now;
        EXPECT_EQ(0u, unwritten.recoveries) << now;
        ++(change == kHealthFirstFailure ? failuresWritten : recoveriesWritten);
    }
    EXPECT_EQ(1, failuresWritten);
    EXPECT_EQ(1, recoveriesWritten);
    EXPECT_EQ(899u, log.unwrittenFailures);
    EXPECT_EQ(899u, log.unwrittenRecoveries);
    ASSERT_TRUE(HealthEntryDue(&log, kHealthFirstFailure, now, &unwritten)) << "an hour after the first warning";
    EXPECT_EQ(899u, unwritten.failures);
    EXPECT_EQ(899u, unwritten.recoveries);
    ASSERT_TRUE(HealthEntryDue(&log, kHealthRecovered, now + 2000, &unwritten)) << "an hour after the first recovery";
    EXPECT_EQ(0u, unwritten.failures) << "counted once, with the entry that was due first";
    EXPECT_EQ(0u, unwritten.recoveries);
    EXPECT_FALSE(HealthEntryDue(&log, kHealthFirstFailure, now + 4000, &unwritten));
    ASSERT_TRUE(HealthEntryDue(&log, kHealthFirstFailure, now + kHealthEntryPeriodMs, &unwritten));
    EXPECT_EQ(1u, unwritten.failures);
    EXPECT_EQ(0u, unwritten.recoveries);
}

// The exit code of the final report: a timer left running, then a start failure, then a failed report.
TEST(ServiceOutcome, TheExitCodeFollowsWhatHappened)
{
    struct Case {
        ServiceOutcome outcome;
        uint32_t exitCode;
    } cases[] = {
        {{false, false, 0}, 0},
        {{true, false, 0}, 20},
        {{true, true, 5}, 1117},  // the start failed after an earlier instance left the timer, and no stop reached it
        {{true, false, 5}, 20},
        {{false, true, 0}, 1117},
        {{false, true, 6}, 1117},
        {{false, false, 6}, 6},
    };
    for (const Case &c : cases) EXPECT_EQ(c.exitCode, ServiceExitCode(c.outcome));
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

// A burst of registry changes, as Group Policy writes its values one by one, is applied once it
// settles: half a second after the last change, and 3 s after the first at the latest.
TEST(HeartbeatRules, ChangedSettingsWaitForTheBurstToSettleButNeverLong)
{
    SettingsSettle settle = {};
    EXPECT_EQ(kNothingToSettle, SettleWaitMs(settle, 1000));
    NoteSettingsChange(&settle, 1000);
    EXPECT_EQ(500u, SettleWaitMs(settle, 1000));
    EXPECT_EQ(0u, SettleWaitMs(settle, 1600));
    for (uint64_t now = 1400; now < 4000; now += 400) NoteSettingsChange(&settle, now);
    EXPECT_EQ(100u, SettleWaitMs(settle, 3900));
    EXPECT_EQ(0u, SettleWaitMs(settle, 4000)) << "a burst that goes on is applied all the same";
}
