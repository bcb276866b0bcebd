// The health checks' values, episodes and -status lines, on a clock the tests turn by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "health/health_records.h"
#include "configuration/setting_catalogue.h"
#include "health/health_rules.h"
#include "sel/sel_rules.h"
#include "status/status_report.h"
#include "watchdog/heartbeat_rules.h"

const uint64_t kSecond = 10000000;                // FILETIME units
const uint64_t kStart = 133000000000000000ull;  // a FILETIME in 2022

static std::string Reason(bool used, const char *reason)
{
    return used ? "used" : reason;
}

TEST(HealthRules, ValuesOfTheWrongTypeSizeOrRangeAreIgnoredWithTheReason)
{
    struct Case {
        const HealthNumberRule *rule;
        uint32_t type, size, number, used;
        const char *reason;
    } cases[] = {
        {&kHealthGracePeriodRule, kTypeDword, 4, 30, 30, "used"},
        {&kHealthGracePeriodRule, kTypeDword, 4, 29, 300, "29 is outside 30 to 86400; the default is used"},
        {&kHealthGracePeriodRule, kTypeDword, 4, 86401, 300, "86401 is outside 30 to 86400; the default is used"},
        {&kHealthCheckIntervalRule, kTypeDword, 4, 0, 10, "0 is outside 1 to 3600; the default is used"},
        {&kHealthCommandTimeoutRule, kTypeDword, 4, 3600, 3600, "used"},
        {&kHealthCommandTimeoutRule, kTypeSz, 4, 60, 60, "it is not a REG_DWORD of 4 bytes; the default is used"},
        {&kHealthCommandTimeoutRule, kTypeDword, 2, 5, 60, "it is not a REG_DWORD of 4 bytes; the default is used"},
        {&kHealthMinAvailableRule, kTypeDword, 4, 0, 0, "0 is outside 1 to 16777216; the check is off"},
        {&kHealthMinAvailableRule, kTypeQword, 8, 512, 0, "it is not a REG_DWORD of 4 bytes; the check is off"},
    };
    for (const Case &c : cases) {
        uint32_t used = 77;
        char reason[kHealthReasonSize] = "";
        bool judged = JudgeHealthNumber(*c.rule, c.type, c.size, c.number, &used, reason, sizeof(reason));
        EXPECT_EQ(c.reason, Reason(judged, reason)) << c.rule->name << " " << c.number;
        EXPECT_EQ(c.used, used) << c.rule->name << " " << c.number;
    }
    char reason[kHealthReasonSize];
    EXPECT_TRUE(JudgeHealthTextType(kTypeExpandSz, true, reason, sizeof(reason)));
    EXPECT_FALSE(JudgeHealthTextType(kTypeExpandSz, false, reason, sizeof(reason)));
    EXPECT_STREQ("its type is not REG_SZ", reason);
    EXPECT_FALSE(JudgeHealthTextType(kTypeMultiSz, true, reason, sizeof(reason)));
    EXPECT_STREQ("its type is not REG_SZ or REG_EXPAND_SZ", reason);
    EXPECT_TRUE(JudgeLastWithheld(kTypeQword, 8, reason, sizeof(reason)));
    EXPECT_FALSE(JudgeLastWithheld(kTypeQword, 4, reason, sizeof(reason)));
    EXPECT_STREQ("it is not a REG_QWORD of 8 bytes", reason);
}

// "C:\Program Files\x.exe" unquoted runs C:\Program.exe first, as LocalSystem: refused, naming what
// would run. A bare name is searched for, a first word with a program's extension is the program.
TEST(HealthRules, AnUnquotedProgramPathThatRunsIntoASpaceIsRefused)
{
    struct Case {
        const char *commandLine;
        const char *reason;
    } cases[] = {
        {"C:\\Program Files\\Check\\check.exe -quick",
         "its program path is not quoted and holds a space: Windows would run C:\\Program.exe first"},
        {"  C:\\Tools\\check now",
         "its program path is not quoted and holds a space: Windows would run C:\\Tools\\check.exe first"},
        {"\"C:\\Program Files\\Check\\check.exe\" -quick", "used"},
        {"C:\\Program Files\\Check\\check.exe",
         "its program path is not quoted and holds a space: Windows would run C:\\Program.exe first"},
        {"cmd /c if exist C:\\marker exit 1", "used"},
        {"C:\\Windows\\system32\\net.exe start LanmanServer", "used"},
        {"\\\\server\\share\\repair.CMD now", "used"},
        {"", "used"},
    };
    for (const Case &c : cases) {
        char reason[kHealthReasonSize] = "";
        bool used = JudgeCommandQuoting(c.commandLine, reason, sizeof(reason));
        EXPECT_EQ(c.reason, Reason(used, reason)) << c.commandLine;
    }
}

// The list ends at its first empty entry or with the data, whether or not that ends in a zero.
TEST(HealthRules, ServiceNamesAreSplitAndAListTooLongIsIgnoredWhole)
{
    static HealthSettings settings;
    char reason[kHealthReasonSize] = "";
    const char twoNames[] = "Spooler\0LanmanServer\0\0Ignored\0";
    ASSERT_TRUE(SplitHealthServices(twoNames, sizeof(twoNames), &settings, reason, sizeof(reason)));
    ASSERT_EQ(2u, settings.serviceCount);
    EXPECT_STREQ("Spooler", settings.services[0]);
    EXPECT_STREQ("LanmanServer", settings.services[1]);
    const char unterminated[] = {'W', '3', 'S', 'V', 'C'};
    ASSERT_TRUE(SplitHealthServices(unterminated, sizeof(unterminated), &settings, reason, sizeof(reason)));
    ASSERT_EQ(1u, settings.serviceCount);
    EXPECT_STREQ("W3SVC", settings.services[0]);
    ASSERT_TRUE(SplitHealthServices("\0", 2, &settings, reason, sizeof(reason)));
    EXPECT_EQ(0u, settings.serviceCount) << "an empty list asks for no check";

    std::string seventeen;
    for (int i = 0; i < 17; ++i) seventeen += "S" + std::to_string(i) + '\0';
    EXPECT_FALSE(SplitHealthServices(seventeen.data(), seventeen.size(), &settings, reason, sizeof(reason)));
    EXPECT_STREQ("it holds more than 16 names", reason);
    EXPECT_EQ(0u, settings.serviceCount);
    std::string longName(257, 'x');
    longName += '\0';
    EXPECT_FALSE(SplitHealthServices(longName.data(), longName.size(), &settings, reason, sizeof(reason)));
    EXPECT_STREQ("it holds a name longer than 256 characters", reason);
    EXPECT_EQ(0u, settings.serviceCount);
}

TEST(HealthRules, ChecksComeInOrderWithTheLabelsAndCausesAdministratorsRead)
{
    static HealthSettings settings;
    memset(&settings, 0, sizeof(settings));
    HealthCheck checks[kHealthMaxChecks];
    EXPECT_EQ(0u, ListHealthChecks(settings, checks)) << "a RepairCommand alone is no check";
    strcpy(settings.command, "cmd /c exit 0");
    strcpy(settings.folder, "C:\\");
    strcpy(settings.services[0], "Spooler");
    strcpy(settings.services[1], "W3SVC");
    settings.serviceCount = 2;
    settings.minAvailableMB = 512;
    ASSERT_EQ(5u, ListHealthChecks(settings, checks));
    std::vector<std::string> labels;
    for (const HealthCheck &check : checks) {
        if (labels.size() == 5) break;
        char label[kHealthLabelSize];
        HealthCheckLabel(settings, check, label, sizeof(label));
        labels.push_back(label);
    }
    EXPECT_EQ((std::vector<std::string>{"HealthCommand", "HealthFolder", "HealthServices Spooler",
                                        "HealthServices W3SVC", "HealthMinAvailableMB"}),
              labels);
    struct Cause {
        HealthCause cause;
        const char *text;
    } causes[] = {
        {{kCauseExitCode, 1, 0}, "exit code 1"},
        {{kCauseExitCode, 0xC0000005, 0}, "exit code 0xC0000005"},
        {{kCauseError, 3, 0}, "error 3"},
        {{kCauseNoAnswer, 60, 0}, "no answer in 60 s"},
        {{kCauseServiceState, 1, 0}, "the service is stopped"},
        {{kCauseServiceState, 9, 0}, "the service is in an unknown state"},
        {{kCauseServiceMissing, 1060, 0}, "the service is not installed"},
        {{kCauseMemory, 200, 512}, "200 MB of commit available, 512 MB required"},
    };
    for (const Cause &c : causes) {
        char text[kHealthReasonSize];
        DescribeHealthCause(c.cause, text, sizeof(text));
        EXPECT_STREQ(c.text, text);
    }
    struct Repair {
        bool configured;
        HealthResult result;
        const char *text;
    } repairs[] = {
        {false, {}, "no RepairCommand is set"},
        {true, {true, {}}, "the RepairCommand ran and ended with exit code 0"},
        {true, {false, {kCauseExitCode, 2, 0}}, "the RepairCommand ran and ended with exit code 2"},
        {true, {false, {kCauseNoAnswer, 60, 0}}, "the RepairCommand gave no answer in 60 s and was ended"},
        {true, {false, {kCauseError, 2, 0}}, "the RepairCommand could not run: error 2"},
    };
    for (const Repair &r : repairs) {
        char text[kHealthReasonSize];
        DescribeRepair(r.configured, r.result, text, sizeof(text));
        EXPECT_STREQ(r.text, text);
    }
}

// Two checks (0 and 1) judged round by round; the clock moves by whole seconds.
class HealthEpisode : public ::testing::Test {
protected:
    void Begin(uint32_t grace, bool repair, uint64_t lastWithheld = 0)
    {
        BeginHealthEpisodes(&episodes_, 2, grace, repair, lastWithheld);
    }

    // Judges both results at second `at` of time awake, after `asleep` seconds of sleep, and gives
    // the notes and action as text.
    std::string Round(uint64_t at, bool first, bool second, bool afterRepair = false, uint64_t asleep = 0)
    {
        HealthResult results[2] = {Result(first), Result(second)};
        HealthClock now = {at * 1000, kStart + (at + asleep) * kSecond};
        JudgeHealthRound(&episodes_, results, now, afterRepair, &round_);
        std::string text;
        static const char *const kNotes[] = {"failed", "never passed", "passed"};
        for (size_t i = 0; i < round_.noteCount; ++i) {
            text += std::string(kNotes[round_.notes[i].kind]) + " " + std::to_string(round_.notes[i].check) + "; ";
        }
        static const char *const kActions[] = {"", "repair", "mended", "withhold", "refuse", "resume"};
        return text + kActions[round_.action];
    }

    static HealthResult Result(bool passed)
    {
        return passed ? HealthResult{true, {}} : HealthResult{false, {kCauseExitCode, 1, 0}};
    }

    HealthEpisodes episodes_;
    HealthRound round_;
};

TEST_F(HealthEpisode, AFailureIsToldOnceAndItsPassOnceAndTheGraceRestartsWithEachRun)
{
    Begin(30, false);
    EXPECT_EQ("", Round(0, true, true));
    EXPECT_EQ("failed 0; ", Round(10, false, true));
    EXPECT_EQ("", Round(20, false, true)) << "repeated failures write nothing more";
    EXPECT_EQ("passed 0; ", Round(30, true, true));
    EXPECT_EQ(kStart + 10 * kSecond, round_.notes[0].failedSince);
    EXPECT_EQ("failed 0; ", Round(31, false, true));
    EXPECT_EQ("", Round(60, false, true)) << "29 s of this run: within the grace";
    EXPECT_EQ("failed 1; withhold", Round(61, false, false)) << "30 s without a break";
    EXPECT_EQ(0u, round_.actedCheck) << "the check that has failed the longest";
    EXPECT_EQ(kStart + 31 * kSecond, round_.actedSince);
    EXPECT_EQ("", Round(70, false, false)) << "an episode is acted upon once";
    EXPECT_EQ("passed 0; ", Round(80, true, false)) << "withheld while any check still fails";
    EXPECT_EQ("passed 1; resume", Round(90, true, true));
    EXPECT_EQ(kStart + 61 * kSecond, round_.withheldSince);
}

// A misspelt command or service name fails from the start: one warning, never an action, until it
// has passed once; from then on its failures count like any other's.
TEST_F(HealthEpisode, ACheckThatNeverPassedIsReportedOnceAndNeverActedUpon)
{
    Begin(30, true);
    EXPECT_EQ("never passed 0; ", Round(0, false, true));
    for (uint64_t at = 10; at <= 600; at += 10) ASSERT_EQ("", Round(at, false, true)) << at;
    EXPECT_FALSE(episodes_.withheld);
    EXPECT_EQ(610000u, NextHealthRoundTick(episodes_, 600000, 10)) << "no round is brought forward for it";
    EXPECT_EQ("passed 0; ", Round(610, true, true));
    EXPECT_EQ("failed 0; ", Round(620, false, true));
    EXPECT_EQ("repair", Round(650, false, true));
}

TEST_F(HealthEpisode, AtTheEndOfTheGraceTheRepairRunsAndItsOutcomeDecides)
{
    Begin(30, true);
    Round(0, true, true);
    Round(10, false, true);
    EXPECT_EQ("repair", Round(40, false, true));
    EXPECT_EQ("mended", Round(41, true, true, true)) << "the mended warning stands for the check's pass";
    EXPECT_EQ(kStart + 10 * kSecond, round_.actedSince);
    EXPECT_FALSE(episodes_.withheld);
    EXPECT_EQ(0u, episodes_.lastWithheld) << "a mended episode is no withholding";

    EXPECT_EQ("failed 0; ", Round(50, false, true));
    EXPECT_EQ("repair", Round(80, false, true));
    EXPECT_EQ("passed 0; failed 1; withhold", Round(81, true, false, true)) << "every check must pass";
    EXPECT_EQ(1u, round_.actedCheck) << "named: a check that still fails";
    EXPECT_EQ(kStart + 81 * kSecond, episodes_.lastWithheld);
}

// A refusal holds while the day since the last withholding lasts; a check that still fails then is
// acted upon, and the heartbeats are withheld.
TEST_F(HealthEpisode, HeartbeatsAreWithheldAtMostOnceIn24Hours)
{
    const uint64_t day = 24 * 3600;
    Begin(30, false, kStart - (day - 100) * kSecond);  // from the registry: withheld 100 s short of a day ago
    Round(0, true, true);
    Round(1, false, true);
    EXPECT_EQ("refuse", Round(31, false, true));
    EXPECT_FALSE(episodes_.withheld);
    EXPECT_EQ("", Round(99, false, true)) << "refused once, while the day lasts";
    EXPECT_EQ("withhold", Round(100, false, true)) << "taken up once a day has passed since the last withholding";
    EXPECT_EQ(0u, round_.actedCheck);
    EXPECT_EQ(kStart + 1 * kSecond, round_.actedSince);
    EXPECT_EQ("passed 0; resume", Round(110, true, true));
    Round(120, false, true);
    EXPECT_EQ("refuse", Round(150, false, true));
    EXPECT_EQ(kStart + 100 * kSecond, episodes_.lastWithheld) << "a refusal keeps the time of the last withholding";
    EXPECT_EQ("passed 0; ", Round(160, true, true)) << "an episode that was refused ends without resuming";
    Round(100 + day - 31, false, true);
    EXPECT_EQ("refuse", Round(100 + day - 1, false, true));
    Round(100 + day, true, true);
    Round(100 + day + 1, false, true);
    EXPECT_EQ("withhold", Round(100 + day + 31, false, true));

    EXPECT_FALSE(WithinADay(0, kStart)) << "never";
    EXPECT_TRUE(WithinADay(kStart + (day - 1) * kSecond, kStart)) << "a clock set back counts either way";
    EXPECT_FALSE(WithinADay(kStart + day * kSecond, kStart));
}

// The grace counts time awake: an hour asleep is no hour of failing. The check that failed as
// Windows went to sleep is acted upon once it has failed 30 s awake, not in the first round after.
TEST_F(HealthEpisode, TheGraceCountsTimeAwakeOnly)
{
    Begin(30, false);
    Round(0, true, true);
    EXPECT_EQ("failed 0; ", Round(10, false, true));
    EXPECT_EQ("", Round(11, false, true, false, 3600)) << "the first round after an hour asleep";
    EXPECT_EQ("", Round(39, false, true, false, 3600));
    EXPECT_EQ("withhold", Round(40, false, true, false, 3600));
    EXPECT_EQ(kStart + 10 * kSecond, round_.actedSince) << "shown on the wall clock";
}

// The round after a failure comes when its grace ends, not up to an interval later.
TEST_F(HealthEpisode, TheRoundThatEndsAGraceIsBroughtForward)
{
    Begin(30, false);
    Round(0, true, true);
    EXPECT_EQ(10000u, NextHealthRoundTick(episodes_, 0, 10));
    Round(7, false, true);
    EXPECT_EQ(17000u, NextHealthRoundTick(episodes_, 7000, 10));
    EXPECT_EQ(37000u, NextHealthRoundTick(episodes_, 7000, 3600));
    EXPECT_EQ("withhold", Round(37, false, true));
    EXPECT_EQ(3637000u, NextHealthRoundTick(episodes_, 37000, 3600)) << "acted upon: the interval again";
}

TEST(HealthReport, RecordsKeepEveryFieldAndStrangeBytesAreRejected)
{
    HealthCheckRecord record = {};
    record.state = kCheckFailed;
    record.everPassed = true;
    record.sinceTime = kStart;
    record.cause = {kCauseMemory, 200, 512};
    uint8_t bytes[kCheckRecordSize];
    size_t size = EncodeCheckRecord(record, "HealthMinAvailableMB", bytes);
    EXPECT_EQ(kCheckRecordHeader + 20, size);
    HealthCheckRecord back = {};
    char label[kHealthLabelSize];
    ASSERT_TRUE(DecodeCheckRecord(bytes, size, &back, label));
    EXPECT_STREQ("HealthMinAvailableMB", label);
    EXPECT_EQ(record.state, back.state);
    EXPECT_TRUE(back.everPassed);
    EXPECT_EQ(kStart, back.sinceTime);
    EXPECT_EQ(kCauseMemory, back.cause.kind);
    EXPECT_EQ(200u, back.cause.value);
    EXPECT_EQ(512u, back.cause.limit);
    EXPECT_FALSE(DecodeCheckRecord(bytes, kCheckRecordHeader - 1, &back, label));
    EXPECT_FALSE(DecodeCheckRecord(bytes, kCheckRecordSize, &back, label)) << "a label without room for its zero";
    bytes[0] = 3;
    EXPECT_FALSE(DecodeCheckRecord(bytes, size, &back, label));

    uint8_t heartbeats[kHeartbeatsRecordSize];
    EncodeHeartbeatsRecord(true, 2, kStart, heartbeats);
    bool withheld = false;
    uint32_t acted = 0;
    uint64_t since = 0;
    ASSERT_TRUE(DecodeHeartbeatsRecord(heartbeats, sizeof(heartbeats), &withheld, &acted, &since));
    EXPECT_TRUE(withheld);
    EXPECT_EQ(2u, acted);
    EXPECT_EQ(kStart, since);
    EXPECT_FALSE(DecodeHeartbeatsRecord(heartbeats, sizeof(heartbeats) - 1, &withheld, &acted, &since));
}

static std::string Lines(const StatusFacts &facts, StatusExitCode *exitCode)
{
    StatusReport report;
    BuildStatusReport(facts, &report);
    *exitCode = report.exitCode;
    std::string text;
    for (size_t i = 0; i < report.lineCount; ++i) {
        if (strncmp(report.lines[i], "Health", 6) == 0 || strncmp(report.lines[i], "Heartbeats", 10) == 0) {
            text += std::string(report.lines[i]) + "\n";
        }
    }
    return text;
}

static HealthCheckFacts Check(const char *label, uint8_t state, bool everPassed, HealthCause cause, uint16_t minute)
{
    HealthCheckFacts check = {};
    snprintf(check.label, sizeof(check.label), "%s", label);
    check.record.state = state;
    check.record.everPassed = everPassed;
    check.record.cause = cause;
    check.since = {2026, 12, 8, 16, minute, 3, 0};
    return check;
}

TEST(HealthReport, StatusShowsEachCheckAsTheServiceSawItAndExitsWith3WhileWithheld)
{
    static StatusFacts facts;
    memset(&facts, 0, sizeof(facts));
    facts.service = {0, kServiceStateRunning, 0, 0, 2};
    StatusExitCode exitCode = kStatusProtected;
    EXPECT_EQ("", Lines(facts, &exitCode)) << "no check configured: no line";
    EXPECT_EQ(kStatusBmcUnreadable, exitCode);

    HealthFacts &health = facts.health;
    health.settings.checkInterval = 10;
    health.settings.gracePeriod = 300;
    health.settings.commandTimeout = 60;
    strcpy(health.settings.repairCommand, "cmd /c del marker");
    health.checkCount = 4;
    health.checks[0] = Check("HealthCommand", kCheckFailed, true, {kCauseExitCode, 1, 0}, 26);
    health.checks[1] = Check("HealthFolder", kCheckPassed, true, {}, 20);
    health.checks[2] = Check("HealthServices NoSuch", kCheckFailed, false, {kCauseServiceMissing, 1060, 0}, 20);
    health.checks[3] = Check("HealthMinAvailableMB", kCheckNotYet, false, {}, 20);
    health.source = kHealthFromService;
    EXPECT_EQ("Health checks: every 10 s, grace 300 s, time limit 60 s, RepairCommand set\n"
              "HealthCommand: failed since 2026-12-08 16:26:03 - exit code 1\n"
              "HealthFolder: passed since 2026-12-08 16:20:03\n"
              "HealthServices NoSuch: failed since 2026-12-08 16:20:03 - the service is not installed; it never "
              "passed, so it is not acted upon\n"
              "HealthMinAvailableMB: not checked yet\n",
              Lines(facts, &exitCode));
    EXPECT_EQ(kStatusBmcUnreadable, exitCode);

    health.withheld = true;
    health.actedCheck = 0;
    health.withheldSince = {2026, 12, 8, 16, 31, 3, 0};
    std::string lines = Lines(facts, &exitCode);
    EXPECT_EQ("Heartbeats: withheld since 2026-12-08 16:31:03 - HealthCommand has failed since 2026-12-08 16:26:03 "
              "(exit code 1); the BMC acts when its countdown runs out\n",
              lines.substr(lines.find("Heartbeats")));
    EXPECT_EQ(kStatusBmcWillAct, exitCode) << "even when the BMC cannot be read";

    health.source = kHealthServiceNotRunning;
    lines = Lines(facts, &exitCode);
    EXPECT_NE(std::string::npos, lines.find("HealthCommand: not checked - the service is not running\n")) << lines;
    EXPECT_EQ(std::string::npos, lines.find("Heartbeats")) << "a publication left behind is not believed";
    EXPECT_EQ(kStatusBmcUnreadable, exitCode);
}

// The catalogue the Group Policy template is held to names each value the service judges, with the
// type and range it judges it by; a change to a rule without the catalogue, or back, fails here.
TEST(SettingCatalogue, HoldsEveryRuleTheServiceJudgesByWithItsRange)
{
    auto number = [](const char *name, uint32_t lowest, uint32_t highest) {
        size_t index = FindSetting(name);
        ASSERT_LT(index, kSettingCount) << name;
        const SettingEntry &entry = kSettingCatalogue[index];
        EXPECT_EQ(kSettingNumber, entry.kind) << name;
        EXPECT_EQ(lowest, entry.lowest) << name;
        EXPECT_EQ(highest, entry.highest) << name;
    };
    for (const HealthNumberRule *rule : {&kHealthCommandTimeoutRule, &kHealthCheckIntervalRule, &kHealthGracePeriodRule,
                                         &kHealthMinAvailableRule}) {
        number(rule->name, rule->lowest, rule->highest);
    }
    for (const ConfigurationValueRule &rule : kLoadedValueRules) number(rule.name, rule.lowest, rule.highest);
    number(kShutdownTimeoutValue, kShutdownTimeoutLowest, kShutdownTimeoutHighest);
    number(kHeartbeatIntervalValue, kFallbackHeartbeatSeconds, kShutdownTimeoutHighest);
    number(kSelEventsValue, 0, 1);
    // A text fits its buffer with the zero the query adds and the one the data may carry.
    struct Text {
        const char *name;
        SettingKind kind;
        size_t characters, count;
    } texts[] = {{kHealthCommandValue, kSettingCommand, kHealthCommandSize - 2, 0},
                 {kRepairCommandValue, kSettingCommand, kHealthCommandSize - 2, 0},
                 {kHealthFolderValue, kSettingText, kHealthFolderSize - 2, 0},
                 {kHealthServicesValue, kSettingNameList, kHealthServiceNameSize - 1, kHealthMaxServices}};
    for (const Text &text : texts) {
        size_t index = FindSetting(text.name);
        ASSERT_LT(index, kSettingCount) << text.name;
        EXPECT_EQ(text.kind, kSettingCatalogue[index].kind) << text.name;
        EXPECT_EQ(text.characters, kSettingCatalogue[index].highest) << text.name;
        EXPECT_EQ(text.count, kSettingCatalogue[index].count) << text.name;
    }
    EXPECT_EQ(FindSetting("PreTimeoutAction"), FindSetting("pretimeoutaction")) << "registry names ignore letter case";
    EXPECT_EQ(kSettingCount, FindSetting(kHealthLastWithheldValue)) << "written by the service, not a setting";
}

// What the entry of an applied change names, and what the service does for it.
TEST(SettingCatalogue, ChangesAreNamedWithTheirSourceAndGroup)
{
    static SettingsSnapshot before, after;
    memset(&before, 0, sizeof(before));
    NoteRepairedSetting(&before, "ShutdownTimeout", 600);
    after = before;
    char text[512];
    EXPECT_EQ(0u, DescribeSettingChanges(before, after, text, sizeof(text)));
    EXPECT_EQ(0u, ChangedSettingGroups(before, after));
    NoteRepairedSetting(&after, "TimeoutValue", 600);
    after.values[FindSetting("TimeoutValue")].source = kSourcePolicy;
    after.values[FindSetting("ShutdownTimeout")] = SettingValue{};
    SettingValue &command = after.values[FindSetting("HealthCommand")];
    command = {kSourceServiceKey, false, kTypeSz, 4, {'c', 'm', 'd', 0}};
    EXPECT_EQ(3u, DescribeSettingChanges(before, after, text, sizeof(text)));
    EXPECT_STREQ("TimeoutValue 600 from Group Policy, ShutdownTimeout removed, HealthCommand changed in the service's key",
                 text);
    EXPECT_EQ(static_cast<uint32_t>(kGroupWatchdog | kGroupShutdown | kGroupHealth), ChangedSettingGroups(before, after));
    before = after;
    before.values[FindSetting("TimeoutValue")].source = kSourceServiceKey;
    EXPECT_EQ(static_cast<uint32_t>(kGroupWatchdog), ChangedSettingGroups(before, after)) << "the same number, another key";
    EXPECT_EQ(1u, DescribeSettingChanges(before, after, text, 20));
    EXPECT_EQ(19u, strlen(text)) << "cut to its room, still ended";
}
