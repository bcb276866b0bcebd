// The drill's rules: the pace it judges from readings whose moments are known only within their
// requests, its schedule, its report line by line and as JSON, its exit codes, and the bytes that
// pass between the command and the service.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "drill/drill_records.h"
#include "test_watchdog_settings.h"

static DrillPace Pace(DrillSample first, DrillSample last)
{
    return JudgeDrillPace(first, last);
}

// A 10 s countdown started at 0: counts at a moment t (ms) are 100 - t / 100, rounded up.
TEST(DrillRules, ThePaceIsJudgedWithinTenPercentOfSomeTimeTheRequestsAllow)
{
    DrillPace sound = Pace({0, 10, 100}, {7500, 7510, 25});
    EXPECT_TRUE(sound.within);
    EXPECT_EQ(1000u, sound.perMille);
    EXPECT_EQ(7500u, sound.fallMs);
    // Answers that take 2 s each, read by the BMC at 1.9 s and 7.1 s: by their middles 74 %, yet
    // a sound BMC.
    DrillPace slowAnswers = Pace({0, 2000, 81}, {7000, 9000, 29});
    EXPECT_EQ(742u, slowAnswers.perMille);
    EXPECT_TRUE(slowAnswers.within) << "the fall fits the 5 s between the first answer and the last request";
    DrillPace half = Pace({0, 10, 100}, {7500, 7510, 63});
    EXPECT_FALSE(half.within);
    EXPECT_EQ(493u, half.perMille);
    EXPECT_FALSE(Pace({0, 10, 100}, {7500, 7510, 100}).within) << "a countdown that does not fall";
    EXPECT_FALSE(Pace({0, 10, 200}, {7500, 7510, 50}).within) << "twice the pace";
    EXPECT_TRUE(Pace({0, 10, 100}, {7500, 7510, 31}).within) << "92 %";
    EXPECT_FALSE(Pace({0, 10, 100}, {7500, 7510, 35}).within) << "87 %";
    EXPECT_TRUE(Pace({0, 10, 100}, {7500, 7510, 18}).within) << "109 %";
    EXPECT_FALSE(Pace({0, 10, 100}, {7500, 7510, 15}).within) << "113 %";
    EXPECT_FALSE(Pace({0, 10, 100}, {0, 10, 100}).within) << "no time between them";
}

TEST(DrillRules, ScheduleDeadlineAndTheDrillsOwnSetting)
{
    EXPECT_FALSE(DrillSecondsValid(9));
    EXPECT_TRUE(DrillSecondsValid(10));
    EXPECT_TRUE(DrillSecondsValid(120));
    EXPECT_FALSE(DrillSecondsValid(121));
    std::vector<uint64_t> due;
    for (uint32_t index = 0; index < kDrillReadings; ++index) due.push_back(DrillReadingDueMs(20, index));
    EXPECT_EQ((std::vector<uint64_t>{0, 5000, 10000, 15000}), due);
    EXPECT_EQ(24000u, DrillExpiryDeadlineMs(20)) << "the countdown, a tenth more, and 2 s";
    EXPECT_EQ(134000u, DrillExpiryDeadlineMs(120));

    const uint8_t drill[kWatchdogReadingLength] = {0x44, 0x00, 0x00, 0x00, 0xC8, 0x00, 0x64, 0x00};
    WatchdogReading reading = {};
    ASSERT_TRUE(DecodeWatchdogReading(drill, sizeof(drill), &reading));
    EXPECT_TRUE(ReadingIsTheDrills(reading, 20));
    EXPECT_FALSE(ReadingIsTheDrills(reading, 30));
    EXPECT_FALSE(ReadingExpired(reading)) << "it runs";
    WatchdogReading armed = reading;
    armed.timerActions = 0x03;
    EXPECT_FALSE(ReadingIsTheDrills(armed, 20)) << "the service armed its own";
    WatchdogReading expired = reading;
    expired.timerUse = 0x04;
    EXPECT_FALSE(ReadingExpired(expired)) << "stopped without the SMS/OS flag";
    expired.expirationFlags = 0x10;
    EXPECT_TRUE(ReadingExpired(expired));
    EXPECT_TRUE(ReadingIsTheDrills(expired, 20));
}

static WatchdogReading Reading(uint8_t timerUse, uint8_t actions, uint16_t initial, uint16_t present)
{
    WatchdogReading reading = {};
    reading.timerUse = timerUse;
    reading.timerActions = actions;
    reading.initialCountdown = initial;
    reading.presentCountdown = present;
    return reading;
}

static std::vector<std::string> Lines(const DrillReport &report)
{
    return std::vector<std::string>(report.lines, report.lines + report.lineCount);
}

static std::string Json(const DrillReport &report)
{
    static char text[kDrillJsonSize];
    EXPECT_TRUE(BuildDrillJson(report, text, sizeof(text)));
    return text;
}

// A drill through the service as the administrator reads it, step by step, and its JSON form.
TEST(DrillReport, APassedDrillLineByLineAndAsJson)
{
    static DrillReport report;
    BeginDrillReport(&report, kDrillThroughService, 20);
    NoteTimerFound(&report, Reading(0x44, 0x03, 3000, 2995));
    SelInfo info = {0x51, 12, 2036 * 16, 0, 0, 0x02};
    NoteSelFound(&report, info);
    NoteDrillArmed(&report);
    NoteDrillReading(&report, 60, Reading(0x44, 0x00, 200, 200));
    NoteDrillReading(&report, 15040, Reading(0x44, 0x00, 200, 50));
    NoteDrillPace(&report, JudgeDrillPace({0, 60, 200}, {15000, 15040, 50}));
    NoteDrillExpired(&report, 20250);
    SelRecord record = {13, 0x02, 1796795537u, 0x20, 0x04, 0x23, 0x81, 0x6F, {0xC0, 0x04, 0xFF}};
    NoteSelRecord(&report, &record);
    NoteTimerLeft(&report, kDrillLeftArmed, Settings(3, 0, 300, 0), {});
    EndDrillPassed(&report);
    EXPECT_EQ((std::vector<std::string>{
                  "Drill of the BMC's watchdog through the service: a 20 s countdown with no action, and no heartbeat "
                  "until it expires",
                  "Found: the BMC's timer runs for SMS/OS, power cycle, 300.0 s",
                  "The BMC's SEL: 12 records, room for 2036 more",
                  "Armed the timer for SMS/OS with no action and 20.0 s, and started it",
                  "After 0.0 s: 20.0 s left",
                  "After 15.0 s: 5.0 s left",
                  "The countdown fell 15.0 s in 14.9 s: 100 % of the real pace",
                  "After 20.2 s: the timer expired: it stopped, and the SMS/OS expiration flag is set",
                  "The BMC's SEL: record 13, Watchdog 2 timer expired for SMS/OS, at 2026-12-09 05:52:17",
                  "Armed the timer again as configured: power cycle, 300 s; the heartbeats resume",
                  "Drill: passed - this BMC's watchdog counts at 100 % of the real pace and expires after 20.2 s, and "
                  "records the expiry in its SEL"}),
              Lines(report));
    std::string json = Json(report);
    EXPECT_EQ(0u, json.find("{\"formatVersion\":1,\"mode\":\"service\",\"seconds\":20,\"verdict\":\"passed\","
                            "\"reason\":\"this BMC's watchdog counts at 100 % of the real pace and expires after 20.2 s, "
                            "and records the expiry in its SEL\",\"pace\":1.000,\"expired\":true,\"expiredAfter\":20.2,"
                            "\"sel\":\"recorded\",\"selRecordId\":13,\"selRecordTime\":\"2026-12-09T05:52:17\","
                            "\"timerLeft\":\"armed\",\"steps\":[\"Drill of the BMC's watchdog"))
        << json;
    EXPECT_NE(std::string::npos, json.find("\"],\"exitCode\":0}")) << json;
    EXPECT_EQ(kDrillExitPassed, DrillExitCodeOf(report.outcome));
}

// Each way a drill ends: its verdict line, the exit code scripts read and the JSON verdict.
TEST(DrillReport, EachEndItsReasonExitCodeAndJsonVerdict)
{
    static DrillReport report;
    struct Case {
        void (*end)(DrillReport *);
        const char *line;
        DrillExitCode exitCode;
        const char *verdict;
    } cases[] = {
        {[](DrillReport *r) { EndDrillFailed(r, kFaultPace, 0); },
         "Drill: failed - the countdown fell 3.7 s in 7.5 s: 49 % of the real pace, more than 10 % off", kDrillExitFailed,
         "failed"},
        {[](DrillReport *r) { EndDrillFailed(r, kFaultEarlyExpiry, 2500); },
         "Drill: failed - the timer expired after 2.5 s of a 10 s countdown", kDrillExitFailed, "failed"},
        {[](DrillReport *r) { EndDrillFailed(r, kFaultNoExpiry, 13000); },
         "Drill: failed - 13.0 s after the start of a 10 s countdown the timer has not expired: it still runs",
         kDrillExitFailed, "failed"},
        {[](DrillReport *r) { EndDrillFailed(r, kFaultNotStarted, 0); },
         "Drill: failed - the timer does not run although Reset Watchdog Timer started it: the BMC's watchdog may be "
         "turned off in its setup",
         kDrillExitFailed, "failed"},
        {[](DrillReport *r) { EndDrillFailed(r, kFaultSelFull, 0); },
         "Drill: failed - the timer expired, but the BMC's SEL is full: it records no expiry until it is cleared",
         kDrillExitFailed, "failed"},
        {[](DrillReport *r) { EndDrillUnread(r, {55, 0xFF, 0}); },
         "Drill: BMC not read - the BMC did not answer: error 55 (no BMC device)", kDrillExitBmcUnread, "bmcNotRead"},
        {[](DrillReport *r) { EndDrillUnread(r, {0, 0xC0, 0}); },
         "Drill: BMC not read - the BMC did not answer: completion code 0xC0", kDrillExitBmcUnread, "bmcNotRead"},
        {[](DrillReport *r) { EndDrillNotRun(r, "another drill runs"); }, "Drill: not run - another drill runs",
         kDrillExitNotRun, "notRun"},
        {[](DrillReport *r) { EndDrillInterrupted(r, "the service is stopping"); },
         "Drill: interrupted - the service is stopping", kDrillExitNotRun, "interrupted"},
        {[](DrillReport *r) { EndDrillNoService(r); }, "Drill: not run - the service ZynAsrService is not installed",
         kDrillExitNotInstalled, "serviceNotInstalled"},
    };
    for (const Case &c : cases) {
        BeginDrillReport(&report, kDrillAlone, 10);
        report.pace = JudgeDrillPace({0, 10, 100}, {7500, 7510, 63});
        c.end(&report);
        EXPECT_EQ(c.line, Lines(report).back());
        EXPECT_EQ(c.exitCode, DrillExitCodeOf(report.outcome)) << c.line;
        std::string json = Json(report);
        EXPECT_NE(std::string::npos, json.find(std::string("\"verdict\":\"") + c.verdict + "\"")) << json;
        EXPECT_NE(std::string::npos, json.find("\"exitCode\":" + std::to_string(c.exitCode) + "}")) << json;
        EXPECT_NE(std::string::npos, json.find("\"mode\":\"alone\",")) << json;
    }
}

TEST(DrillRecords, TheRequestAndTheReportComeBackAsWrittenAndNothingElsePasses)
{
    const uint64_t now = 134100000000000000ULL;
    uint8_t request[kDrillRequestSize];
    EncodeDrillRequest({30, now}, request);
    DrillRequest decoded = {};
    ASSERT_TRUE(DecodeDrillRequest(request, sizeof(request), &decoded));
    EXPECT_EQ(30u, decoded.seconds);
    EXPECT_EQ(now, decoded.requestedAt);
    EXPECT_FALSE(DecodeDrillRequest(request, sizeof(request) - 1, &decoded));
    request[5] = 1;
    EXPECT_FALSE(DecodeDrillRequest(request, sizeof(request), &decoded)) << "its reserved bytes are 0";
    const uint64_t second = 10000000;
    EXPECT_TRUE(DrillRequestFresh(now - 60 * second, now));
    EXPECT_FALSE(DrillRequestFresh(now - 61 * second, now)) << "left behind by a command that sent no control";
    EXPECT_TRUE(DrillRequestFresh(now + 5 * second, now));
    EXPECT_FALSE(DrillRequestFresh(now + 6 * second, now));

    static DrillReport report;
    static uint8_t bytes[kDrillReportSize];
    static PublishedDrill published;
    BeginDrillReport(&report, kDrillThroughService, 30);
    NoteDrillArmed(&report);
    size_t size = EncodeDrillReport(now, report, "", bytes, sizeof(bytes));
    ASSERT_TRUE(DecodeDrillReport(bytes, size, &published));
    EXPECT_EQ(now, published.requestId);
    EXPECT_FALSE(published.finished) << "under way";
    ASSERT_EQ(2u, published.lineCount);
    EXPECT_STREQ(report.lines[1], published.lines[1]);
    EndDrillInterrupted(&report, "the drill was cancelled");
    size = EncodeDrillReport(now, report, "{\"x\":1}", bytes, sizeof(bytes));
    ASSERT_TRUE(DecodeDrillReport(bytes, size, &published));
    EXPECT_TRUE(published.finished);
    EXPECT_EQ(kDrillExitNotRun, published.exitCode);
    EXPECT_STREQ("{\"x\":1}", published.json);
    EXPECT_FALSE(DecodeDrillReport(bytes, size - 1, &published)) << "the JSON's zero is missing";
    bytes[12] = static_cast<uint8_t>(kDrillMaxLines + 1);
    EXPECT_FALSE(DecodeDrillReport(bytes, size, &published)) << "more lines than a report holds";
    EXPECT_EQ(0u, EncodeDrillReport(now, report, "", bytes, kDrillReportHeader + 10)) << "no room: nothing";
}
