// The -status report from plain facts: its lines, the BMC's answer decoded and named, the exit code.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "status/nagios_report.h"
#include "status/prometheus_report.h"
#include "status/status_json.h"
#include "status/status_report.h"
#include "test_watchdog_settings.h"

// A running service, the install's configuration with a 1 s heartbeat, a BMC timer guarding the OS.
static StatusFacts ProtectedFacts()
{
    StatusFacts facts = {};
    facts.service = {0, kServiceStateRunning, 0, 0, 2};
    facts.configuration.settings = Settings(3, 0, 300, 0);
    facts.configuration.heartbeatInterval = 1;
    facts.configuration.heartbeatRead = true;
    const uint8_t answer[kWatchdogReadingLength] = {0x44, 0x03, 0x00, 0x00, 0xB8, 0x0B, 0xAE, 0x0B};
    facts.bmc.read = DecodeWatchdogReading(answer, sizeof(answer), &facts.bmc.reading);
    facts.bmc.outcome = {0, 0x00, kWatchdogReadingLength};
    facts.configuration.sources.applied = true;
    for (size_t index = 0; index < 5; ++index) facts.configuration.sources.sources[index] = kSourceServiceKey;
    facts.heartbeats.published = true;
    return facts;
}

static std::string Text(const StatusFacts &facts, StatusExitCode *exitCode = nullptr)
{
    StatusReport report;
    BuildStatusReport(facts, &report);
    if (exitCode != nullptr) *exitCode = report.exitCode;
    std::string text;
    for (size_t index = 0; index < report.lineCount; ++index) text += std::string(report.lines[index]) + "\n";
    return text;
}

// The value of the line with this label, or "(absent)".
static std::string Value(const StatusFacts &facts, const std::string &label)
{
    std::string text = Text(facts);
    size_t start = text.find(label + ": ");
    if (start == std::string::npos || (start != 0 && text[start - 1] != '\n')) return "(absent)";
    start += label.size() + 2;
    return text.substr(start, text.find('\n', start) - start);
}

static StatusFacts WithAnswer(StatusFacts facts, const uint8_t answer[kWatchdogReadingLength])
{
    facts.bmc.read = DecodeWatchdogReading(answer, kWatchdogReadingLength, &facts.bmc.reading);
    return facts;
}

TEST(StatusReport, AProtectedServerLineByLine)
{
    StatusExitCode exitCode = kStatusBmcUnreadable;
    EXPECT_EQ("Service: running\n"
              "Start type: automatic\n"
              "TimeoutAction: power cycle (3)\n"
              "TimeoutValue: 300 s\n"
              "PreTimeoutAction: none (0)\n"
              "PreTimeoutInterval: 0 s\n"
              "HeartbeatInterval: 1 s configured, 1 s in use\n"
              "ShutdownTimeout: off\n"
              "BMC timer use: SMS/OS (0x04)\n"
              "BMC timer: running\n"
              "BMC don't log: no\n"
              "BMC timeout action: power cycle (3)\n"
              "BMC pre-timeout interrupt: none (0)\n"
              "BMC pre-timeout interval: 0 s\n"
              "BMC expiration flags: none\n"
              "BMC initial countdown: 300.0 s\n"
              "BMC present countdown: 299.0 s\n"
              "Protected: yes\n",
              Text(ProtectedFacts(), &exitCode));
    EXPECT_EQ(kStatusProtected, exitCode);
}

TEST(StatusReport, EveryTimerUseActionInterruptAndFlagFromTheAnswerBytes)
{
    const char *uses[8] = {"reserved", "BIOS FRB2", "BIOS/POST", "OS Load", "SMS/OS", "OEM", "reserved", "reserved"};
    const char *actions[8] = {"no action", "hard reset", "power down", "power cycle",
                              "reserved",  "reserved",   "reserved",   "reserved"};
    const char *interrupts[8] = {"none",     "SMI",      "NMI / diagnostic interrupt", "messaging interrupt",
                                 "reserved", "reserved", "reserved",                   "reserved"};
    for (uint8_t n = 0; n < 8; ++n) {
        // Reserved bits beside each field must not leak into it.
        const uint8_t answer[kWatchdogReadingLength] = {static_cast<uint8_t>(0x38 | n),
                                                        static_cast<uint8_t>(0x88 | (n << 4) | n), 0, 0, 0, 0, 0, 0};
        StatusFacts facts = WithAnswer(ProtectedFacts(), answer);
        char use[32];
        snprintf(use, sizeof(use), "%s (0x%02X)", uses[n], n);
        EXPECT_EQ(use, Value(facts, "BMC timer use"));
        EXPECT_EQ(std::string(actions[n]) + " (" + std::to_string(n) + ")", Value(facts, "BMC timeout action"));
        EXPECT_EQ(std::string(interrupts[n]) + " (" + std::to_string(n) + ")", Value(facts, "BMC pre-timeout interrupt"));
        EXPECT_EQ("stopped", Value(facts, "BMC timer"));
        EXPECT_EQ("no", Value(facts, "BMC don't log"));
    }
    const uint8_t flagged[kWatchdogReadingLength] = {0xC4, 0x00, 0xFF, 0xFF, 0, 0, 0, 0};
    StatusFacts facts = WithAnswer(ProtectedFacts(), flagged);
    EXPECT_EQ("bit 0, BIOS FRB2, BIOS/POST, OS Load, SMS/OS, OEM, bit 6, bit 7", Value(facts, "BMC expiration flags"));
    EXPECT_EQ("255 s", Value(facts, "BMC pre-timeout interval"));
    EXPECT_EQ("running", Value(facts, "BMC timer"));
    EXPECT_EQ("yes", Value(facts, "BMC don't log"));
}

TEST(StatusReport, CountdownsInSecondsWithOneDecimal)
{
    struct Case {
        uint8_t answer[kWatchdogReadingLength];
        const char *initial;
        const char *present;
    } cases[] = {
        {{0x44, 0x03, 0, 0, 0x00, 0x00, 0x00, 0x00}, "0.0 s", "0.0 s"},
        {{0x44, 0x03, 0, 0, 0x01, 0x00, 0xFF, 0xFF}, "0.1 s", "6553.5 s"},
        {{0x44, 0x03, 0, 0, 0xFF, 0xFF, 0x01, 0x00}, "6553.5 s", "0.1 s"},
        {{0x44, 0x03, 0, 0, 0x00, 0x01, 0xB8, 0x0B}, "25.6 s", "300.0 s"},  // low byte first
    };
    for (const Case &c : cases) {
        StatusFacts facts = WithAnswer(ProtectedFacts(), c.answer);
        EXPECT_EQ(c.initial, Value(facts, "BMC initial countdown"));
        EXPECT_EQ(c.present, Value(facts, "BMC present countdown"));
    }
}

TEST(StatusReport, AnUnreadBmcSaysWhyAndExitsWithTwo)
{
    struct Case {
        WatchdogOutcome outcome;
        const char *line;
    } cases[] = {
        {{55, 0xFF, 0}, "error 55 (no BMC device)"},
        {{258, 0xFF, 0}, "error 258 (no answer in time)"},
        {{0, 0xC1, 0}, "completion code 0xC1"},
        {{0, 0x00, 7}, "short answer of 7 bytes, 8 expected"},
        {{0, 0x00, 0}, "short answer of 0 bytes, 8 expected"},
    };
    for (const Case &c : cases) {
        StatusFacts facts = ProtectedFacts();
        facts.bmc.read = false;
        facts.bmc.outcome = c.outcome;
        StatusExitCode exitCode = kStatusProtected;
        std::string text = Text(facts, &exitCode);
        EXPECT_EQ(kStatusBmcUnreadable, exitCode) << c.line;
        EXPECT_EQ(std::string("not read - ") + c.line, Value(facts, "BMC"));
        EXPECT_EQ("(absent)", Value(facts, "BMC timer use")) << "nothing is shown that was not read";
        EXPECT_EQ("unknown - the BMC could not be read", Value(facts, "Protected"));
    }
    const uint8_t seven[7] = {0x44, 0x03, 0, 0, 0xB8, 0x0B, 0xAE};
    WatchdogReading reading = {};
    EXPECT_FALSE(DecodeWatchdogReading(seven, sizeof(seven), &reading)) << "a short answer is never decoded";
}

TEST(StatusReport, EachExitCodeDecision)
{
    struct Case {
        uint32_t serviceError;
        uint32_t state;
        uint8_t timerUse;
        bool read;
        StatusExitCode exitCode;
        const char *verdict;
    } cases[] = {
        {0, kServiceStateRunning, 0x44, true, kStatusProtected, "yes"},
        {0, kServiceStateRunning, 0xC4, true, kStatusProtected, "yes"},  // don't log does not matter
        {1060, 0, 0x44, true, kStatusUnprotected, "no - the service is not installed"},
        {5, 0, 0x44, true, kStatusUnprotected, "no - the service's state is unknown"},
        {0, kServiceStateStopped, 0x44, true, kStatusUnprotected, "no - the service is not running"},
        {0, 2, 0x44, true, kStatusUnprotected, "no - the service is not running"},
        {0, 3, 0x44, true, kStatusUnprotected, "no - the service is not running"},
        {0, kServiceStateRunning, 0x04, true, kStatusUnprotected, "no - the BMC's timer is stopped"},
        {0, kServiceStateRunning, 0x43, true, kStatusUnprotected, "no - the BMC's timer runs for OS Load, not SMS/OS"},
        {0, kServiceStateRunning, 0x45, true, kStatusUnprotected, "no - the BMC's timer runs for OEM, not SMS/OS"},
        {0, kServiceStateRunning, 0x44, true, kStatusUnprotected, "no - the BMC's timer takes no action when it expires"},
        {1060, 0, 0x01, true, kStatusUnprotected, "no - the service is not installed; the BMC's timer is stopped"},
        {0, kServiceStateRunning, 0x44, false, kStatusBmcUnreadable, "unknown - the BMC could not be read"},
        {1060, 0, 0x44, false, kStatusBmcUnreadable, "no - the service is not installed; the BMC could not be read"},
    };
    for (const Case &c : cases) {
        StatusFacts facts = ProtectedFacts();
        facts.service.error = c.serviceError;
        facts.service.state = c.state;
        facts.bmc.reading.timerUse = c.timerUse;
        if (strstr(c.verdict, "no action") != nullptr) facts.bmc.reading.timerActions = 0x00;
        facts.bmc.read = c.read;
        if (!c.read) facts.bmc.outcome = {55, 0xFF, 0};
        EXPECT_EQ(c.exitCode, DecideStatusExitCode(facts)) << c.verdict;
        StatusExitCode built = kStatusProtected;
        Text(facts, &built);
        EXPECT_EQ(c.exitCode, built) << c.verdict;
        EXPECT_EQ(c.verdict, Value(facts, "Protected"));
    }
}

TEST(StatusReport, ServiceAndConfigurationLines)
{
    StatusFacts facts = ProtectedFacts();
    facts.service = {kServiceNotInstalledError, 0, 0, 0, 0};
    EXPECT_EQ("not installed", Value(facts, "Service"));
    EXPECT_EQ("(absent)", Value(facts, "Start type"));
    facts.service = {0, kServiceStateStopped, 20, 0, 3};
    EXPECT_EQ("stopped, exit code 20", Value(facts, "Service"));
    EXPECT_EQ("manual", Value(facts, "Start type"));
    facts.service = {0, kServiceStateStopped, kServiceSpecificExitCode, 7, 4};
    EXPECT_EQ("stopped, exit code 1066, service-specific 7", Value(facts, "Service"));
    EXPECT_EQ("disabled", Value(facts, "Start type"));
    const char *states[9] = {"state 0", "stopped, exit code 0", "start pending", "stop pending", "running",
                             "continue pending", "pause pending", "paused", "state 8"};
    for (uint32_t state = 0; state < 9; ++state) {
        facts.service = {0, state, 0, 0, 2};
        EXPECT_EQ(states[state], Value(facts, "Service"));
    }
    facts.configuration.settings = Settings(1, 2, 60, 20);
    facts.configuration.heartbeatInterval = 45;
    facts.configuration.shutdownTimeout = 120;
    EXPECT_EQ("hard reset (1)", Value(facts, "TimeoutAction"));
    EXPECT_EQ("60 s", Value(facts, "TimeoutValue"));
    EXPECT_EQ("NMI / diagnostic interrupt (2)", Value(facts, "PreTimeoutAction"));
    EXPECT_EQ("20 s", Value(facts, "PreTimeoutInterval"));
    EXPECT_EQ("45 s configured, 17 s in use", Value(facts, "HeartbeatInterval")) << "the interrupt 40 s after a heartbeat";
    facts.configuration.settings = Settings(1, 2, 20, 5);
    EXPECT_EQ("NMI / diagnostic interrupt (2), not armed: it would come less than 30 s after a heartbeat",
              Value(facts, "PreTimeoutAction"));
    EXPECT_EQ("45 s configured, 7 s in use", Value(facts, "HeartbeatInterval")) << "the timeout alone, 20 s after a heartbeat";
    EXPECT_EQ("120 s", Value(facts, "ShutdownTimeout"));
    facts.configuration.heartbeatRead = false;
    EXPECT_EQ("not readable, 1 s in use", Value(facts, "HeartbeatInterval"));
}

// 100.0 s left of a 300.0 s countdown with a 45 s interval in use: the heartbeats are not arriving,
// whether the service runs or not, and the BMC acts when the countdown runs out.
TEST(StatusReport, ACountdownTheHeartbeatsDoNotRestartSaysWhenTheBmcActsAndExitsWithThree)
{
    StatusFacts facts = ProtectedFacts();
    facts.configuration.heartbeatInterval = 45;
    facts.bmc.reading.presentCountdown = 1000;
    StatusExitCode exitCode = kStatusProtected;
    Text(facts, &exitCode);
    EXPECT_EQ(kStatusBmcWillAct, exitCode);
    EXPECT_EQ("no - heartbeats are not reaching the BMC, which acts in 100.0 s", Value(facts, "Protected"));
    facts.service.state = kServiceStateStopped;
    EXPECT_EQ(kStatusBmcWillAct, DecideStatusExitCode(facts)) << "a stop that left the timer running";
    EXPECT_EQ("no - the service is not running; heartbeats are not reaching the BMC, which acts in 100.0 s",
              Value(facts, "Protected"));
    facts.service.state = kServiceStateRunning;
    struct Case {
        uint16_t present;
        StatusExitCode exitCode;
    } cases[] = {
        {3000 - 550, kStatusProtected},  // 45 s and the 10 s margin, not more
        {3000 - 551, kStatusBmcWillAct},
        {0, kStatusBmcWillAct},
    };
    for (const Case &c : cases) {
        facts.bmc.reading.presentCountdown = c.present;
        EXPECT_EQ(c.exitCode, DecideStatusExitCode(facts)) << c.present;
    }
    facts.configuration.heartbeatInterval = 600;  // replaced by (300 - 5) / 2 = 147 s
    facts.bmc.reading.presentCountdown = 3000 - 1570;
    EXPECT_EQ(kStatusProtected, DecideStatusExitCode(facts)) << "judged by the interval in use";
    facts.bmc.reading.presentCountdown = 3000 - 1571;
    EXPECT_EQ(kStatusBmcWillAct, DecideStatusExitCode(facts));
    facts.bmc.reading.timerActions = 0x00;
    EXPECT_EQ(kStatusUnprotected, DecideStatusExitCode(facts)) << "a timer without an action does not act";
    facts.bmc.reading.timerActions = 0x03;
    facts.bmc.reading.timerUse = 0x04;
    EXPECT_EQ(kStatusUnprotected, DecideStatusExitCode(facts)) << "a stopped timer does not count down";
}

static std::string Json(const StatusFacts &facts)
{
    static char text[kStatusJsonSize];
    EXPECT_TRUE(BuildStatusJson(facts, text, sizeof(text))) << "the object did not fit";
    return text;
}

// The index of the quote that closes the string opening at start.
static size_t StringEnd(const std::string &json, size_t start)
{
    size_t end = start + 1;
    while (end < json.size() && json[end] != '"') end += json[end] == '\\' ? 2 : 1;
    return end;
}

// Where the value starting at start ends: its comma or the bracket that closes its container.
static size_t ValueEnd(const std::string &json, size_t start)
{
    int depth = 0;
    size_t end = start;
    for (; end < json.size(); ++end) {
        char c = json[end];
        if (c == '"') {
            end = StringEnd(json, end);
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && depth-- == 0) {
            break;
        } else if (c == ',' && depth == 0) {
            break;
        }
    }
    return end;
}

// The value of a member of the object, as written, or "(absent)"; "bmc.error" looks inside "bmc".
static std::string Member(const std::string &object, const std::string &path)
{
    size_t dot = path.find('.');
    std::string name = path.substr(0, dot);
    int depth = 0;
    for (size_t at = 0; at < object.size(); ++at) {
        char c = object[at];
        if (c == '{' || c == '[') ++depth;
        if (c == '}' || c == ']') --depth;
        if (c != '"') continue;
        size_t end = StringEnd(object, at);
        if (depth == 1 && object.compare(at + 1, end - at - 1, name) == 0 && object[end + 1] == ':') {
            std::string value = object.substr(end + 2, ValueEnd(object, end + 2) - end - 2);
            return dot == std::string::npos ? value : Member(value, path.substr(dot + 1));
        }
        at = end;
    }
    return "(absent)";
}

// The field names scripts rely on, in their order; a change here breaks every fleet script.
TEST(StatusJson, AProtectedServerFieldByFieldOnOneLine)
{
    // The five values the install writes come from the service key, the others from nowhere.
    const char *names[] = {"TimeoutAction", "PreTimeoutAction", "TimeoutValue", "PreTimeoutInterval",
                           "HeartbeatInterval", "ShutdownTimeout", "SelEvents", "HealthCommand", "RepairCommand",
                           "HealthFolder", "HealthServices", "HealthMinAvailableMB", "HealthCommandTimeout",
                           "HealthCheckInterval", "HealthGracePeriod"};
    std::string values;
    for (size_t index = 0; index < sizeof(names) / sizeof(names[0]); ++index) {
        values += std::string(index == 0 ? "" : ",") + "{\"name\":\"" + names[index] + "\",\"source\":\"" +
                  (index < 5 ? "serviceKey" : "default") + "\",\"notApplied\":false}";
    }
    EXPECT_EQ("{\"formatVersion\":2,"
              "\"service\":{\"installed\":true,\"error\":null,\"state\":\"running\",\"stateCode\":4,\"exitCode\":null,"
              "\"serviceSpecificExitCode\":null,\"startType\":\"automatic\",\"startTypeCode\":2},"
              "\"configuration\":{\"timeoutAction\":3,\"timeoutActionName\":\"power cycle\",\"timeoutValue\":300,"
              "\"preTimeoutAction\":0,\"preTimeoutActionName\":\"none\",\"preTimeoutArmed\":false,"
              "\"preTimeoutInterval\":0,\"heartbeatInterval\":1,\"heartbeatIntervalInUse\":1,\"shutdownTimeout\":null},"
              "\"settings\":{\"inUse\":true,\"values\":[" + values + "]},"
              "\"heartbeats\":{\"failures\":0,\"failuresInARow\":0,\"lastExpiryFound\":null},"
              "\"health\":null,"
              "\"bmc\":{\"read\":true,\"notReadReason\":null,\"error\":null,\"completionCode\":0,\"timerUse\":4,"
              "\"timerUseName\":\"SMS/OS\",\"timerRunning\":true,\"dontLog\":false,\"timeoutAction\":3,"
              "\"timeoutActionName\":\"power cycle\",\"preTimeoutInterrupt\":0,\"preTimeoutInterruptName\":\"none\","
              "\"preTimeoutInterval\":0,\"expirationFlags\":0,\"expirationFlagNames\":[],\"initialCountdown\":300.0,"
              "\"presentCountdown\":299.0},"
              "\"sel\":null,"
              "\"protected\":\"yes\",\"reasons\":[],\"exitCode\":0}",
              Json(ProtectedFacts()));
}

// What was not learnt is null; a 0 that was read stays 0.
TEST(StatusJson, AbsentFactsAreNullAndAZeroReadIsZero)
{
    StatusFacts facts = ProtectedFacts();
    facts.service = {kServiceNotInstalledError, 0, 0, 0, 0};
    facts.configuration.heartbeatRead = false;
    facts.bmc.read = false;
    facts.bmc.outcome = {55, 0xFF, 0};
    std::string json = Json(facts);
    EXPECT_EQ("false", Member(json, "service.installed"));
    EXPECT_EQ("1060", Member(json, "service.error"));
    for (const char *path : {"service.state", "service.stateCode", "service.exitCode", "service.startType",
                             "service.startTypeCode", "configuration.heartbeatInterval",
                             "configuration.shutdownTimeout", "bmc.completionCode", "bmc.timerUse", "bmc.timerRunning",
                             "bmc.expirationFlagNames", "bmc.initialCountdown", "bmc.presentCountdown"}) {
        EXPECT_EQ("null", Member(json, path)) << path;
    }
    EXPECT_EQ("1", Member(json, "configuration.heartbeatIntervalInUse"));
    EXPECT_EQ("0", Member(json, "configuration.preTimeoutInterval"));
    EXPECT_EQ("55", Member(json, "bmc.error"));
    EXPECT_EQ("\"error 55 (no BMC device)\"", Member(json, "bmc.notReadReason"));
    EXPECT_EQ("[\"the service is not installed\",\"the BMC could not be read\"]", Member(json, "reasons"));

    facts.service = {5, 0, 0, 0, 0};
    EXPECT_EQ("null", Member(Json(facts), "service.installed")) << "the SCM refused: not known";
    facts.service = {0, kServiceStateStopped, 0, 0, 3};
    facts.bmc.outcome = {0, 0xC1, 0};
    json = Json(facts);
    EXPECT_EQ("\"stopped\"", Member(json, "service.state"));
    EXPECT_EQ("0", Member(json, "service.exitCode")) << "a clean stop's exit code is a fact";
    EXPECT_EQ("null", Member(json, "service.serviceSpecificExitCode"));
    EXPECT_EQ("null", Member(json, "bmc.error"));
    EXPECT_EQ("193", Member(json, "bmc.completionCode"));
    facts.service = {0, 9, 0, 0, 7};
    json = Json(facts);
    EXPECT_EQ("null", Member(json, "service.state")) << "a number without a name";
    EXPECT_EQ("9", Member(json, "service.stateCode"));
    EXPECT_EQ("null", Member(json, "service.startType"));
    EXPECT_EQ("7", Member(json, "service.startTypeCode"));
}

// The BMC's log: no line unless it was asked; why it was not read; the last expiry with its time on
// the BMC's clock, its action and what came before it; how far the search went when it found none.
TEST(StatusReport, TheBmcsLogAndItsLastWatchdogExpiry)
{
    StatusFacts facts = ProtectedFacts();
    EXPECT_EQ("(absent)", Value(facts, "BMC log")) << "not asked: the BMC did not answer";
    EXPECT_EQ("null", Member(Json(facts), "sel"));
    facts.sel.attempted = true;
    facts.sel.outcome = {0, 0xC1, 0};
    EXPECT_EQ("none - the BMC has no SEL (completion code 0xC1)", Value(facts, "BMC log"));
    EXPECT_EQ("(absent)", Value(facts, "BMC last watchdog expiry"));
    facts.sel.outcome = {258, 0xFF, 0};
    EXPECT_EQ("not read - error 258 (no answer in time)", Value(facts, "BMC log"));
    std::string unread = Member(Json(facts), "sel");
    EXPECT_EQ("258", Member(unread, "error"));
    EXPECT_EQ("null", Member(unread, "completionCode"));
    EXPECT_EQ("null", Member(unread, "entries"));

    facts.sel.read = true;
    facts.sel.outcome = {0, 0x00, 18};
    facts.sel.info = {0x51, 1000, 1048 * 16, 0, 0, 0x02};
    facts.sel.newestRead = true;
    facts.sel.history.recordsRead = 312;
    EXPECT_EQ("1000 records", Value(facts, "BMC log"));
    EXPECT_EQ("none in the last 312 of its 1000 records", Value(facts, "BMC last watchdog expiry")) << "cut short";
    facts.sel.reachedStart = true;
    EXPECT_EQ("none in its 1000 records", Value(facts, "BMC last watchdog expiry"));
    facts.sel.info.operations = 0x82;
    EXPECT_EQ("1000 records, full: the BMC records no more events", Value(facts, "BMC log"));

    facts.sel.history.expiryFound = true;
    facts.sel.history.expiry = {19, 0x02, 1796795537u, 0x20, 0x04, 0x23, 0x81, 0x6F, {0xC3, 0x04, 0xFF}};
    const char *before[3] = {"the log does not say whether a graceful shutdown came before it",
                             "a graceful shutdown came before it", "no graceful shutdown came before it"};
    const char *json[3] = {"null", "true", "false"};
    for (ShutdownBefore shutdown : {kShutdownBeforeUnknown, kShutdownBeforeYes, kShutdownBeforeNo}) {
        facts.sel.history.shutdownBefore = shutdown;
        EXPECT_EQ(std::string("2026-12-09 05:52:17 (BMC clock), power cycle; ") + before[shutdown],
                  Value(facts, "BMC last watchdog expiry"));
        EXPECT_EQ(json[shutdown], Member(Member(Json(facts), "sel"), "lastExpiry.gracefulShutdownBefore"));
    }
    std::string sel = Member(Json(facts), "sel");
    EXPECT_EQ("{\"read\":true,\"notReadReason\":null,\"error\":null,\"completionCode\":null,\"entries\":1000,"
              "\"full\":true,\"recordsSearched\":312,\"searchedToFirstRecord\":true,"
              "\"lastExpiry\":{\"recordId\":19,\"timestamp\":1796795537,\"time\":\"2026-12-09T05:52:17\","
              "\"action\":3,\"actionName\":\"power cycle\",\"timerUse\":4,\"timerUseName\":\"SMS/OS\","
              "\"gracefulShutdownBefore\":false}}",
              sel);
    facts.sel.history.expiry.timestamp = 600;
    facts.sel.history.expiry.data[1] = 0x0F;
    EXPECT_EQ("600 s after the BMC started, power cycle; no graceful shutdown came before it",
              Value(facts, "BMC last watchdog expiry"));
    std::string early = Member(Member(Json(facts), "sel"), "lastExpiry");
    EXPECT_EQ("null", Member(early, "time")) << "no date before the BMC's clock was set";
    EXPECT_EQ("null", Member(early, "timerUse")) << "unspecified";
    EXPECT_EQ(kStatusProtected, DecideStatusExitCode(facts)) << "the log never changes the verdict";
}

// A label from the registry may hold any byte of the ANSI code page: the output stays ASCII, and
// every byte comes back as the code point of its own value. The largest report still fits.
TEST(StatusJson, TextIsEscapedToAsciiAndTheLargestReportFits)
{
    static StatusFacts facts;
    facts = ProtectedFacts();
    facts.health.checkCount = 1;
    facts.health.source = kHealthServiceNotRunning;
    snprintf(facts.health.checks[0].label, kHealthLabelSize, "%s", "a\"b\\c/\b\f\n\r\t\x01\x1f\x7f\x80\xe9\xff");
    std::string check = Member(Json(facts), "health.checks").substr(1);
    EXPECT_EQ("\"a\\\"b\\\\c/\\b\\f\\n\\r\\t\\u0001\\u001F\\u007F\\u0080\\u00E9\\u00FF\"", Member(check, "name"));
    EXPECT_EQ("null", Member(check, "state")) << "not checked: no result";

    facts.health.checkCount = kHealthMaxChecks;
    facts.health.source = kHealthFromService;
    facts.health.withheld = true;
    for (HealthCheckFacts &check : facts.health.checks) {
        memset(check.label, 0x01, kHealthLabelSize - 1);
        check.label[kHealthLabelSize - 1] = '\0';
        check.record = {kCheckFailed, true, true, 0, 0, {kCauseMemory, 4294967295u, 4294967295u}};
    }
    std::string json = Json(facts);
    for (char c : json) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << static_cast<int>(c);
    char small[64];
    EXPECT_FALSE(BuildStatusJson(facts, small, sizeof(small)));
    EXPECT_EQ(63u, strlen(small)) << "cut short, never past its room";
}

// The object ends with the text form's exit code and verdict, for each exit code.
TEST(StatusJson, EachExitCodeAndVerdictAsTheTextGivesThem)
{
    StatusFacts protectedFacts = ProtectedFacts(), stopped = ProtectedFacts(), unread = ProtectedFacts();
    StatusFacts missing = ProtectedFacts();
    static StatusFacts withheld;
    withheld = ProtectedFacts();
    stopped.bmc.reading.timerUse = 0x04;
    unread.bmc.read = false;
    unread.bmc.outcome = {258, 0xFF, 0};
    missing.bmc.reading.presentCountdown = 100;
    withheld.health.checkCount = 1;
    withheld.health.source = kHealthFromService;
    withheld.health.withheld = true;
    withheld.health.withheldSince = {2026, 12, 8, 16, 31, 3, 60};
    withheld.health.checks[0] = {"HealthCommand", {kCheckFailed, true, true, 0, 0, {kCauseExitCode, 1, 0}},
                                 {2026, 12, 8, 16, 26, 3, -330}};
    struct Case {
        const StatusFacts *facts;
        const char *exitCode;
        const char *verdict;
        const char *reasons;
    } cases[] = {
        {&protectedFacts, "0", "\"yes\"", "[]"},
        {&stopped, "1", "\"no\"", "[\"the BMC's timer is stopped\"]"},
        {&unread, "2", "\"unknown\"", "[\"the BMC could not be read\"]"},
        {&missing, "3", "\"no\"", "[\"heartbeats are not reaching the BMC, which acts in 10.0 s\"]"},
        {&withheld, "3", "\"no\"",
         "[\"the service withholds its heartbeats: a health check fails, and the BMC acts in 299.0 s\"]"},
    };
    for (const Case &c : cases) {
        StatusExitCode textCode = kStatusProtected;
        Text(*c.facts, &textCode);
        std::string json = Json(*c.facts);
        EXPECT_EQ(std::to_string(textCode), c.exitCode) << json;
        EXPECT_EQ(c.exitCode, Member(json, "exitCode")) << json;
        EXPECT_EQ(c.verdict, Member(json, "protected")) << json;
        EXPECT_EQ(c.reasons, Member(json, "reasons")) << json;
    }
    std::string health = Member(Json(withheld), "health");
    EXPECT_EQ("true", Member(health, "heartbeatsWithheld"));
    EXPECT_EQ("\"2026-12-08T16:31:03+01:00\"", Member(health, "withheldSince")) << "ISO 8601 with the UTC offset";
    EXPECT_EQ("\"HealthCommand\"", Member(health, "withheldFor"));
    std::string check = Member(health, "checks").substr(1);
    EXPECT_EQ("{\"name\":\"HealthCommand\",\"state\":\"failed\",\"since\":\"2026-12-08T16:26:03-05:30\","
              "\"cause\":\"exit code 1\",\"everPassed\":true}]",
              check);
}

// Lines only when they say something: a value from the policy key, or one the service has not applied.
TEST(StatusReport, SettingsLinesNameThePolicysValuesAndThoseNotAppliedYet)
{
    StatusFacts facts = ProtectedFacts();
    std::string plain = Text(facts);
    EXPECT_EQ(std::string::npos, plain.find("Group Policy")) << plain;
    EXPECT_EQ(std::string::npos, plain.find("Not applied")) << plain;
    SettingsFacts &sources = facts.configuration.sources;
    sources.sources[FindSetting("TimeoutValue")] = kSourcePolicy;
    sources.sources[FindSetting("HealthServices")] = kSourcePolicy;
    sources.notApplied[FindSetting("HeartbeatInterval")] = true;
    EXPECT_EQ("TimeoutValue, HealthServices", Value(facts, "Set by Group Policy"));
    EXPECT_EQ("HeartbeatInterval - the registry holds other values than the service uses", Value(facts, "Not applied yet"));
    EXPECT_EQ(1u, CountNotApplied(sources));
    std::string text = Text(facts);
    EXPECT_LT(text.find("ShutdownTimeout:"), text.find("Set by Group Policy:")) << "beside the values they are about";
    sources.applied = false;  // the service does not run: the registry's values are the ones shown
    EXPECT_EQ("(absent)", Value(facts, "Not applied yet"));
    EXPECT_EQ(0u, CountNotApplied(sources));
    EXPECT_EQ("null", Member(Member(Json(facts), "settings.values").substr(1), "notApplied"));
}

// The plugin's state for each verdict, and its line as monitoring agents split it.
TEST(StatusMonitoring, NagiosStatesFollowTheVerdictAndTheStartType)
{
    struct Case {
        const char *name;
        void (*change)(StatusFacts *);
        NagiosState state;
    } cases[] = {
        {"protected", [](StatusFacts *) {}, kNagiosOk},
        {"manual start", [](StatusFacts *f) { f->service.startType = 3; }, kNagiosWarning},
        {"not installed, no BMC", [](StatusFacts *f) {
             f->service = {kServiceNotInstalledError, 0, 0, 0, 0};
             f->bmc.read = false;
             f->bmc.outcome = {55, 0xFF, 0};
         }, kNagiosWarning},
        {"stopped", [](StatusFacts *f) { f->service.state = kServiceStateStopped; }, kNagiosWarning},
        {"timer stopped", [](StatusFacts *f) { f->bmc.reading.timerUse = 0x04; }, kNagiosWarning},
        {"BMC unread", [](StatusFacts *f) {
             f->bmc.read = false;
             f->bmc.outcome = {258, 0xFF, 0};
         }, kNagiosUnknown},
        {"SCM refused", [](StatusFacts *f) { f->service = {5, 0, 0, 0, 0}; }, kNagiosUnknown},
        {"heartbeats missing", [](StatusFacts *f) { f->bmc.reading.presentCountdown = 100; }, kNagiosCritical},
        {"withheld", [](StatusFacts *f) {
             f->health.checkCount = 1;
             f->health.source = kHealthFromService;
             f->health.withheld = true;
             snprintf(f->health.checks[0].label, kHealthLabelSize, "HealthCommand");
             f->health.checks[0].record.state = kCheckFailed;
         }, kNagiosCritical},
    };
    for (const Case &c : cases) {
        static StatusFacts facts;
        facts = ProtectedFacts();
        c.change(&facts);
        char line[1024];
        EXPECT_EQ(c.state, BuildNagiosLine(facts, line, sizeof(line))) << c.name << ": " << line;
        std::string text = line;
        EXPECT_EQ(0u, text.find(std::string(NagiosStateName(c.state)) + " - ")) << text;
        EXPECT_EQ(text.find('|'), text.rfind('|')) << "one separator: " << text;
        EXPECT_NE(std::string::npos, text.find("'interval'=1s;;;0")) << text;
    }
    char line[1024];
    BuildNagiosLine(ProtectedFacts(), line, sizeof(line));
    EXPECT_STREQ("OK - protected: a heartbeat every 1 s, the BMC acts 300 s after the last | 'seconds_left'=299.0s;;;0 "
                 "'interval'=1s;;;0",
                 line);
    static StatusFacts unread;
    unread = ProtectedFacts();
    unread.bmc.read = false;
    unread.bmc.outcome = {55, 0xFF, 0};
    BuildNagiosLine(unread, line, sizeof(line));
    EXPECT_STREQ("UNKNOWN - the BMC could not be read (error 55 (no BMC device)) | 'interval'=1s;;;0", line)
        << "no seconds left without a running timer";
}

// Samples only for facts that are known; a check's name escaped as a label value.
TEST(StatusMonitoring, PrometheusTextHasEachKnownFactOnceWithItsUnit)
{
    static StatusFacts facts;
    facts = ProtectedFacts();
    facts.heartbeats.failures = 7;
    facts.heartbeats.failuresInARow = 2;
    facts.heartbeats.expiryFound = 116444736000000000ull + 1800000000ull * 10000000ull;
    facts.health.checkCount = 2;
    facts.health.source = kHealthFromService;
    snprintf(facts.health.checks[0].label, kHealthLabelSize, "HealthServices a\"b\\c\xE9");
    facts.health.checks[0].record.state = kCheckFailed;
    snprintf(facts.health.checks[1].label, kHealthLabelSize, "HealthFolder");
    static char text[kPrometheusTextSize];
    ASSERT_TRUE(BuildPrometheusText(facts, text, sizeof(text)));
    std::string metrics = text;
    for (const char *sample : {"zynwatch_protected 1\n", "zynwatch_status_exit_code 0\n",
                               "zynwatch_bmc_countdown_seconds 299\n", "zynwatch_heartbeat_interval_seconds 1\n",
                               "zynwatch_timeout_seconds 300\n", "zynwatch_heartbeat_failures_total 7\n",
                               "zynwatch_heartbeat_failures_in_a_row 2\n", "zynwatch_heartbeats_withheld 0\n",
                               "zynwatch_last_expiry_timestamp_seconds 1800000000\n",
                               "# TYPE zynwatch_heartbeat_failures_total counter\n",
                               "zynwatch_health_check_failing{check=\"HealthServices a\\\"b\\\\c\xC3\xA9\"} 1\n"}) {
        EXPECT_NE(std::string::npos, metrics.find(sample)) << sample << "\n" << metrics;
    }
    EXPECT_EQ(std::string::npos, metrics.find("HealthFolder")) << "not checked yet: no sample";
    facts.bmc.read = false;
    facts.heartbeats = {};
    ASSERT_TRUE(BuildPrometheusText(facts, text, sizeof(text)));
    metrics = text;
    for (const char *absent : {"zynwatch_bmc_countdown_seconds", "zynwatch_heartbeat_failures_total",
                               "zynwatch_last_expiry_timestamp_seconds"}) {
        EXPECT_EQ(std::string::npos, metrics.find(absent)) << absent << " is not known";
    }
    EXPECT_FALSE(BuildPrometheusText(facts, text, 200)) << "cut text is refused";
}
