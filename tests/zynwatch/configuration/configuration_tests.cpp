// The service's configuration in the real (Wine) registry: install values, loading with its
// repairs in order, and the heartbeat interval.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "configuration/service_configuration.h"
#include "configuration/setting_sources.h"
#include "health/health_settings.h"
#include "import_hook.h"
#include "registry_recorder.h"
#include "service/service_installation.h"
#include "service_config_recorder.h"
#include "service_event_source.h"
#include "service_identity.h"
#include "session_table.h"
#include "test_helpers.h"
#include "zynwatch_test_support.h"

typedef std::vector<std::string> Lines;

class Configuration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(RemoveServiceIfPresent(kServiceName)) << "a service left behind holds the key";
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServiceKeyPath);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key_, nullptr));
    }

    void TearDown() override
    {
        if (key_ != nullptr) RegCloseKey(key_);
        if (policy_ != nullptr) RegCloseKey(policy_);
        RemoveAppliedSettings();
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServiceKeyPath);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPolicyKeyPath);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\Zynvarra");
    }

    // The key Group Policy writes, as a policy with the service's template makes it.
    void SetPolicyRaw(const char *name, DWORD type, const void *data, DWORD size)
    {
        if (policy_ == nullptr) {
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPolicyKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                     nullptr, &policy_, nullptr));
        }
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(policy_, name, 0, type, static_cast<const BYTE *>(data), size));
    }

    void SetPolicyDword(const char *name, DWORD value) { SetPolicyRaw(name, REG_DWORD, &value, sizeof(value)); }

    void SetRaw(const char *name, DWORD type, const void *data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, name, 0, type, static_cast<const BYTE *>(data), size));
    }

    void SetDword(const char *name, DWORD value) { SetRaw(name, REG_DWORD, &value, sizeof(value)); }

    // "absent", or "type=T size=S" followed by " dword=N" for a 4-byte number.
    std::string Stored(const char *name)
    {
        BYTE data[2048];
        DWORD type = 0, size = sizeof(data);
        if (RegQueryValueExA(key_, name, nullptr, &type, data, &size) != ERROR_SUCCESS) return "absent";
        std::string text = "type=" + std::to_string(type) + " size=" + std::to_string(size);
        if (size == 4) text += " dword=" + std::to_string(ReadLe32(data));
        return text;
    }

    // The calls of one value loaded as it stands: the Group Policy key's open, which finds no key, then
    // the service key's own open, query and close.
    static Lines Read(const char *name)
    {
        return {"open 0x20019", "open 0x20019", std::string("query ") + name + " size=4", "close"};
    }

    // The calls of a repair: its own open for writing, the set and the close.
    static Lines WriteBack(const char *name, DWORD value)
    {
        return {"open 0x2001F", std::string("set ") + name + " type=4 size=4 dword=" + std::to_string(value), "close"};
    }

    static Lines Join(std::initializer_list<Lines> parts)
    {
        Lines joined;
        for (const Lines &part : parts) joined.insert(joined.end(), part.begin(), part.end());
        return joined;
    }

    static void ExpectSettings(const WatchdogSettings &settings, int timeoutAction, int preTimeoutAction,
                               int timeoutValue, int preTimeoutInterval)
    {
        EXPECT_EQ(timeoutAction, settings.timeoutAction);
        EXPECT_EQ(preTimeoutAction, settings.preTimeoutAction);
        EXPECT_EQ(timeoutValue, settings.timeoutValue);
        EXPECT_EQ(preTimeoutInterval, settings.preTimeoutInterval);
    }

    HKEY key_ = nullptr;
    HKEY policy_ = nullptr;
};

TEST_F(Configuration, InstallWritesDescriptionAndFiveNumbersEachOnItsOwn)
{
    Lines calls;
    {
        RegistryRecorder recorder;
        ASSERT_TRUE(recorder.Installed());
        WriteServiceConfiguration(3, 0);
        calls = recorder.Calls();
    }
    Lines expected;
    const char *sets[] = {"set Description type=1 size=1024", "set TimeoutAction type=4 size=4 dword=3",
                          "set PretimeoutAction type=4 size=4 dword=0", "set TimeoutValue type=4 size=4 dword=300",
                          "set PreTimeoutInterval type=4 size=4 dword=0", "set HeartbeatInterval type=4 size=4 dword=45"};
    for (const char *set : sets) expected.insert(expected.end(), {"open 0x2001F", set, "close"});
    EXPECT_EQ(expected, calls);

    char description[1100];
    DWORD type = 0, size = sizeof(description);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "Description", nullptr, &type, reinterpret_cast<BYTE *>(description), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(1024u, size) << "the whole block, zeros included";
    EXPECT_EQ(360u, strlen(description));
    EXPECT_STREQ("\nUseage: \n -timeout [none|hardreset|poweroff|powercycle] \n -pretimeout [none|smi|nmi|msgint] ",
                 strchr(description, '\n'));
    EXPECT_EQ("type=4 size=4 dword=3", Stored("TimeoutAction"));
    EXPECT_EQ("type=4 size=4 dword=0", Stored("PreTimeoutAction"));
    EXPECT_EQ("type=4 size=4 dword=300", Stored("TimeoutValue"));
    EXPECT_EQ("type=4 size=4 dword=0", Stored("PreTimeoutInterval"));
    EXPECT_EQ("type=4 size=4 dword=45", Stored("HeartbeatInterval"));
}

// A pre-timeout interrupt chosen at install fires 120 s before the 300 s timeout, in time for a
// crash dump; without one the interval stays 0.
TEST_F(Configuration, InstallStoresTheChosenActionsAndALeadForAnInterrupt)
{
    WriteServiceConfiguration(1, 2);
    EXPECT_EQ("type=4 size=4 dword=1", Stored("TimeoutAction"));
    EXPECT_EQ("type=4 size=4 dword=2", Stored("PretimeoutAction"));
    ExpectSettings(LoadWatchdogSettings(), 1, 2, 300, 120);
    WriteServiceConfiguration(3, 0);
    ExpectSettings(LoadWatchdogSettings(), 3, 0, 300, 0);
}

// Peeking, as -status does, and the shutdown phase's value never write; "ShutdownTimeout"
// counts only as a four-byte REG_DWORD from 10 to 6553.
TEST_F(Configuration, PeekingAndTheShutdownTimeoutWriteNothing)
{
    // The shutdown timeout read with the registry calls recorded; any write fails the test.
    auto shutdownTimeout = [] {
        RegistryRecorder recorder;
        uint16_t seconds = ReadShutdownTimeout();
        EXPECT_EQ(Lines{}, recorder.Sets());
        EXPECT_EQ(Read("ShutdownTimeout"), recorder.Calls()) << "the read itself was recorded";
        return seconds;
    };
    SetDword("TimeoutValue", 5);
    SetDword("PreTimeoutAction", 9);
    {
        RegistryRecorder recorder;
        ExpectSettings(PeekWatchdogSettings(), 3, 0, 3000, 0);
        EXPECT_EQ(Lines{}, recorder.Sets());
        EXPECT_EQ(Join({Read("PreTimeoutAction"), Read("TimeoutAction"), Read("TimeoutValue"), Read("PreTimeoutInterval")}),
                  recorder.Calls())
            << "the reads themselves were recorded";
    }
    EXPECT_EQ(0u, shutdownTimeout()) << "missing";
    const uint64_t sixHundred = 600;
    struct Case {
        DWORD type;
        const void *data;
        DWORD size;
        uint16_t used;
    } cases[] = {{REG_DWORD, &sixHundred, 4, 600}, {REG_QWORD, &sixHundred, 8, 0}, {REG_BINARY, &sixHundred, 4, 0},
                 {REG_SZ, "600", 4, 0}};
    for (const Case &c : cases) {
        SetRaw("ShutdownTimeout", c.type, c.data, c.size);
        EXPECT_EQ(c.used, shutdownTimeout()) << "type " << c.type;
    }
    for (DWORD seconds : {9ul, 10ul, 6553ul, 6554ul, 0ul}) {
        SetDword("ShutdownTimeout", seconds);
        EXPECT_EQ(seconds >= 10 && seconds <= 6553 ? seconds : 0, shutdownTimeout()) << seconds;
    }
    EXPECT_EQ("type=4 size=4 dword=5", Stored("TimeoutValue"));
}

TEST_F(Configuration, TheInstalledValuesLoadWithoutRepair)
{
    WriteServiceConfiguration(3, 0);
    RegistryRecorder recorder;
    ExpectSettings(LoadWatchdogSettings(), 3, 0, 300, 0);
    EXPECT_EQ(Join({Read("PreTimeoutAction"), Read("TimeoutAction"), Read("TimeoutValue"), Read("PreTimeoutInterval")}),
              recorder.Calls())
        << "\"PretimeoutAction\" as installed is the value \"PreTimeoutAction\" the loader reads";
}

TEST_F(Configuration, EmptyKeyIsRepairedValueByValueInLoadingOrder)
{
    RegistryRecorder recorder;
    ExpectSettings(LoadWatchdogSettings(), 3, 0, 3000, 0);
    EXPECT_EQ(Join({Read("PreTimeoutAction"), WriteBack("PreTimeoutAction", 0), Read("TimeoutAction"),
                    WriteBack("TimeoutAction", 3), Read("TimeoutValue"), WriteBack("TimeoutValue", 3000),
                    Read("PreTimeoutInterval"), WriteBack("PreTimeoutInterval", 0)}),
              recorder.Calls());
    EXPECT_EQ("type=4 size=4 dword=3000", Stored("TimeoutValue"));
    EXPECT_EQ("absent", Stored("HeartbeatInterval"));
}

TEST_F(Configuration, OutOfRangeValuesAreReplacedAndWrittenBack)
{
    struct Case {
        const char *name;
        DWORD stored;
        DWORD used;
        bool repaired;
    } cases[] = {
        {"TimeoutValue", 9, 3000, true},        {"TimeoutValue", 10, 10, false},
        {"TimeoutValue", 6553, 6553, false},    {"TimeoutValue", 6554, 3000, true},
        {"TimeoutValue", 65535, 3000, true},    {"TimeoutAction", 4, 3, true},
        {"TimeoutAction", 0, 0, false},         {"TimeoutAction", 259, 3, false},
        {"TimeoutAction", 256, 0, false},       {"PreTimeoutAction", 7, 0, true},
        {"PreTimeoutAction", 3, 3, false},      {"PreTimeoutInterval", 255, 255, false},
        {"PreTimeoutInterval", 256, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.stored));
        SetDword("TimeoutAction", 1);
        SetDword("PreTimeoutAction", 1);
        SetDword("TimeoutValue", 600);
        SetDword("PreTimeoutInterval", 20);
        SetDword(c.name, c.stored);
        RegistryRecorder recorder;
        WatchdogSettings settings = LoadWatchdogSettings();
        Lines sets = recorder.Sets();
        if (c.repaired) {
            EXPECT_EQ(Lines{std::string("set ") + c.name + " type=4 size=4 dword=" + std::to_string(c.used)}, sets);
        } else {
            EXPECT_EQ(Lines{}, sets);
        }
        EXPECT_EQ("type=4 size=4 dword=" + std::to_string(c.repaired ? c.used : c.stored), Stored(c.name));
        int timeoutAction = strcmp(c.name, "TimeoutAction") == 0 ? int(c.used) : 1;
        int preTimeoutAction = strcmp(c.name, "PreTimeoutAction") == 0 ? int(c.used) : 1;
        int timeoutValue = strcmp(c.name, "TimeoutValue") == 0 ? int(c.used) : 600;
        int preTimeoutInterval = strcmp(c.name, "PreTimeoutInterval") == 0 ? int(c.used) : 20;
        ExpectSettings(settings, timeoutAction, preTimeoutAction, timeoutValue, preTimeoutInterval);
    }
}

TEST_F(Configuration, ValueNamesIgnoreLetterCase)
{
    SetDword("pretimeoutaction", 2);
    SetDword("TIMEOUTVALUE", 120);
    RegistryRecorder recorder;
    WatchdogSettings settings = LoadWatchdogSettings();
    EXPECT_EQ(2, settings.preTimeoutAction);
    EXPECT_EQ(120, settings.timeoutValue);
    EXPECT_EQ((Lines{"set TimeoutAction type=4 size=4 dword=3", "set PreTimeoutInterval type=4 size=4 dword=0"}),
              recorder.Sets());
    DWORD values = 0;
    RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(4u, values) << "no second value under another letter case";
}

TEST_F(Configuration, TypeIsIgnoredAndOnlyFourBytesAreRead)
{
    SetRaw("PreTimeoutInterval", REG_SZ, "x", 2);  // bytes 78 00: 120
    const BYTE twoBytes[2] = {0x2C, 0x01};         // 300
    SetRaw("TimeoutValue", REG_BINARY, twoBytes, sizeof(twoBytes));
    const BYTE sevenAsText[2] = {'7', 0};          // 0x37 = 55, out of range
    SetRaw("PreTimeoutAction", REG_SZ, sevenAsText, sizeof(sevenAsText));
    SetDword("TimeoutAction", 2);
    RegistryRecorder recorder;
    ExpectSettings(LoadWatchdogSettings(), 2, 0, 300, 120);
    EXPECT_EQ((Lines{"set PreTimeoutAction type=4 size=4 dword=0"}), recorder.Sets());
    EXPECT_EQ("type=1 size=2", Stored("PreTimeoutInterval")) << "a value used as read keeps its type";
    EXPECT_EQ("type=3 size=2", Stored("TimeoutValue"));
    EXPECT_EQ("type=4 size=4 dword=0", Stored("PreTimeoutAction")) << "a repair stores a REG_DWORD";
}

TEST_F(Configuration, ValuesLargerThanFourBytesCannotBeReadAndAreRepaired)
{
    ULONGLONG sixHundred = 600;
    SetRaw("TimeoutValue", REG_QWORD, &sixHundred, sizeof(sixHundred));
    SetRaw("TimeoutAction", REG_SZ, "1234567", 8);
    SetRaw("HeartbeatInterval", REG_QWORD, &sixHundred, sizeof(sixHundred));
    ExpectSettings(LoadWatchdogSettings(), 3, 0, 3000, 0);
    EXPECT_EQ("type=4 size=4 dword=3000", Stored("TimeoutValue"));
    EXPECT_EQ("type=4 size=4 dword=3", Stored("TimeoutAction"));
    DWORD seconds = 77;
    EXPECT_FALSE(ReadHeartbeatInterval(&seconds));
    EXPECT_EQ(0u, seconds);
    EXPECT_EQ("type=11 size=8", Stored("HeartbeatInterval")) << "the interval is never written back";
}

// Every registry type at sizes around four bytes, for each value the service reads. The loader's
// view is what RegQueryValueExA gives back: at most four bytes are that little-endian number
// whatever the type; anything longer cannot be read. Repairs store a REG_DWORD; values used as
// read, and the interval always, stay as they were.
TEST_F(Configuration, EveryTypeAndSizeOfEachValueIsReadAsItsFirstBytesOrRepaired)
{
    struct Rule {
        const char *name;
        uint32_t lowest, highest, repair;
        bool lowestByte;
    };
    const Rule rules[] = {{"PreTimeoutAction", 0, 3, 0, false},
                          {"TimeoutAction", 0, 3, 3, true},
                          {"TimeoutValue", 10, 6553, 3000, false},
                          {"PreTimeoutInterval", 0, 255, 0, false},
                          {"HeartbeatInterval", 0, 0xFFFFFFFF, 0, false}};
    const DWORD types[] = {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                           REG_MULTI_SZ, REG_RESOURCE_LIST, REG_QWORD, 0x12345678};
    const DWORD sizes[] = {0, 1, 2, 3, 4, 5, 8, 2048};
    BYTE patterns[2][2048] = {{0x02}, {0x2C, 0x01}};  // 2; 300 from two bytes on
    for (size_t index = 0; index < 5; ++index) {
        const Rule &rule = rules[index];
        for (DWORD type : types) {
            for (DWORD size : sizes) {
                for (const BYTE *pattern : patterns) {
                    SCOPED_TRACE(std::string(rule.name) + " type " + std::to_string(type) + " size " +
                                 std::to_string(size) + " first byte " + std::to_string(pattern[0]));
                    WriteServiceConfiguration(1, 1);
                    SetRaw(rule.name, type, pattern, size);
                    BYTE back[4096];
                    DWORD backSize = sizeof(back);
                    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, rule.name, nullptr, nullptr, back, &backSize));
                    uint32_t number = 0;
                    if (backSize <= 4) memcpy(&number, back, backSize);
                    uint32_t judged = rule.lowestByte ? number & 0xFF : number;
                    bool used = backSize <= 4 && judged >= rule.lowest && judged <= rule.highest;
                    std::string before = Stored(rule.name);
                    uint32_t got = 0;
                    if (index == 4) {
                        DWORD seconds = 77;
                        EXPECT_EQ(used, ReadHeartbeatInterval(&seconds));
                        got = seconds;
                    } else {
                        WatchdogSettings settings = LoadWatchdogSettings();
                        const uint32_t fields[] = {settings.preTimeoutAction, settings.timeoutAction,
                                                   settings.timeoutValue, settings.preTimeoutInterval};
                        got = fields[index];
                    }
                    EXPECT_EQ(used ? judged : rule.repair, got);
                    bool writtenBack = !used && index < 4;
                    EXPECT_EQ(writtenBack ? "type=4 size=4 dword=" + std::to_string(rule.repair) : before,
                              Stored(rule.name));
                }
            }
        }
    }
}

TEST_F(Configuration, HeartbeatIntervalIsReadAsStoredWithoutAnyWrite)
{
    DWORD seconds = 77;
    EXPECT_FALSE(ReadHeartbeatInterval(&seconds));
    EXPECT_EQ(0u, seconds);
    for (DWORD stored : {0ul, 1ul, 45ul, 100000ul, 0xFFFFFFFFul}) {
        SetDword("HeartbeatInterval", stored);
        seconds = 77;
        RegistryRecorder recorder;
        EXPECT_TRUE(ReadHeartbeatInterval(&seconds));
        EXPECT_EQ(stored, seconds);
        EXPECT_EQ(Read("HeartbeatInterval"), recorder.Calls()) << "read only, never written back";
    }
}

// The entries written in this process while the hook is in place, as "id: strings" lines.
static Lines g_reported;

static BOOL WINAPI RecordReportedEvent(HANDLE, WORD, WORD, DWORD id, PSID, WORD count, DWORD, LPCSTR *strings, LPVOID)
{
    std::string line = std::to_string(id & 0xFFFF) + ":";
    for (WORD i = 0; i < count; ++i) line += std::string(" ") + strings[i];
    g_reported.push_back(line);
    return TRUE;
}

// Each health value on its own: a bad one is ignored with one warning that names it, its default
// (or no check) is used, nothing is written back, and a quiet read, as -status does, warns of none.
TEST_F(Configuration, HealthValuesOfTheWrongTypeLengthOrRangeAreIgnoredWithOneWarningEach)
{
    SetRaw("HealthCommand", REG_EXPAND_SZ, "%SystemRoot%\\check.cmd -q", 26);
    std::string tooLong(2048, 'x');
    SetRaw("RepairCommand", REG_SZ, tooLong.c_str(), 2049);
    SetRaw("HealthFolder", REG_EXPAND_SZ, "C:\\data", 8);
    SetRaw("HealthServices", REG_MULTI_SZ, "Spooler\0W3SVC", 13);  // no zero after the last name
    SetDword("HealthMinAvailableMB", 0);
    const ULONGLONG eight = 8;
    SetRaw("HealthCommandTimeout", REG_QWORD, &eight, sizeof(eight));
    SetRaw("HealthCheckInterval", REG_SZ, "5", 2);
    SetDword("HealthGracePeriod", 29);
    SetDword("HealthLastWithheld", 1);
    static HealthSettings settings;
    g_reported.clear();
    {
        ImportHook hook("advapi32.dll", "ReportEventA", reinterpret_cast<void *>(RecordReportedEvent));
        ASSERT_TRUE(hook.Installed());
        RegistryRecorder recorder;
        ReadHealthSettings(&settings, false);
        EXPECT_EQ(Lines{}, g_reported) << "a quiet read warns of nothing";
        ReadHealthSettings(&settings, true);
        EXPECT_EQ(0u, ReadLastWithheld());
        EXPECT_EQ(Lines{}, recorder.Sets());
    }
    char expanded[MAX_PATH];
    ExpandEnvironmentStringsA("%SystemRoot%\\check.cmd -q", expanded, sizeof(expanded));
    EXPECT_STREQ(expanded, settings.command);
    EXPECT_STRNE("%SystemRoot%\\check.cmd -q", settings.command);
    EXPECT_STREQ("", settings.repairCommand);
    EXPECT_STREQ("", settings.folder);
    ASSERT_EQ(2u, settings.serviceCount);
    EXPECT_STREQ("W3SVC", settings.services[1]);
    EXPECT_EQ(0u, settings.minAvailableMB);
    EXPECT_EQ(60u, settings.commandTimeout);
    EXPECT_EQ(10u, settings.checkInterval);
    EXPECT_EQ(300u, settings.gracePeriod);
    EXPECT_EQ((Lines{"32: RepairCommand it is longer than 2047 characters",
                     "32: HealthFolder its type is not REG_SZ",
                     "32: HealthMinAvailableMB 0 is outside 1 to 16777216; the check is off",
                     "32: HealthCommandTimeout it is not a REG_DWORD of 4 bytes; the default is used",
                     "32: HealthCheckInterval it is not a REG_DWORD of 4 bytes; the default is used",
                     "32: HealthGracePeriod 29 is outside 30 to 86400; the default is used",
                     "32: HealthLastWithheld it is not a REG_QWORD of 8 bytes"}),
              g_reported);
    const ULONGLONG withheld = 0x01DB000000000000ull;
    SetRaw("HealthLastWithheld", REG_QWORD, &withheld, sizeof(withheld));
    EXPECT_EQ(withheld, ReadLastWithheld());
}

// Group Policy's key over the service key, value by value: a policy value wins, one the policy lacks
// comes from the service key, a withdrawn one falls back to it. A policy value out of range is used as
// the service key's would be, but the service writes neither key for it: the entry names it.
TEST_F(Configuration, APolicyValueWinsValueByValueAndIsNeverWrittenBack)
{
    WriteServiceConfiguration(3, 0);
    SetDword("HealthCheckInterval", 15);
    SetPolicyDword("TimeoutValue", 600);
    SetPolicyDword("PreTimeoutAction", 7);
    SetPolicyDword("HeartbeatInterval", 30);
    SetPolicyDword("HealthGracePeriod", 5);
    SetPolicyRaw("HealthCommand", REG_EXPAND_SZ, "cmd /c exit 0", 14);
    static HealthSettings settings;
    g_reported.clear();
    Lines sets;
    {
        ImportHook hook("advapi32.dll", "ReportEventA", reinterpret_cast<void *>(RecordReportedEvent));
        ASSERT_TRUE(hook.Installed());
        RegistryRecorder recorder;
        ExpectSettings(LoadWatchdogSettings(), 3, 0, 600, 0);
        ReadHealthSettings(&settings, true);
        sets = recorder.Sets();
    }
    EXPECT_EQ(Lines{}, sets) << "the policy's value is not the service's to mend";
    EXPECT_EQ((Lines{"65: PreTimeoutAction 7 is outside 0 to 3; 0 is used",
                     "65: HealthGracePeriod 5 is outside 30 to 86400; the default is used"}),
              g_reported);
    DWORD seconds = 0;
    EXPECT_TRUE(ReadHeartbeatInterval(&seconds));
    EXPECT_EQ(30u, seconds);
    EXPECT_STREQ("cmd /c exit 0", settings.command);
    EXPECT_EQ(15u, settings.checkInterval) << "not in the policy: the service key's";
    EXPECT_EQ(300u, settings.gracePeriod);
    static SettingsSnapshot snapshot;
    ReadSettingsSnapshot(kSettingsConfigured, &snapshot);
    EXPECT_EQ(kSourcePolicy, snapshot.values[FindSetting("TimeoutValue")].source);
    EXPECT_EQ(kSourceServiceKey, snapshot.values[FindSetting("TimeoutAction")].source);
    EXPECT_EQ(kSourceServiceKey, snapshot.values[FindSetting("HealthCheckInterval")].source);
    EXPECT_EQ(kSourceNone, snapshot.values[FindSetting("ShutdownTimeout")].source);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(policy_, "TimeoutValue"));
    ExpectSettings(PeekWatchdogSettings(), 3, 0, 300, 0);
}

// The running service publishes a copy of what it applied, which -status reads through the same
// rules: the same values from the same keys, a value too long judged too long again, and the copy
// stays as it was while the registry changes, until the service publishes anew.
TEST_F(Configuration, TheAppliedCopyReadsAsTheValuesItWasTakenFrom)
{
    WriteServiceConfiguration(1, 2);
    SetPolicyDword("TimeoutValue", 900);
    std::string services(5000, 'S');  // one name far too long, beyond the copy's room
    services += std::string(2, '\0');
    SetRaw("HealthServices", REG_MULTI_SZ, services.data(), static_cast<DWORD>(services.size()));
    static SettingsSnapshot taken, copied;
    ReadSettingsSnapshot(kSettingsConfigured, &taken);
    EXPECT_FALSE(AppliedSettingsPublished());
    ASSERT_TRUE(PublishAppliedSettings(taken));
    EXPECT_TRUE(AppliedSettingsPublished());
    SetPolicyDword("TimeoutValue", 60);
    SetDword("TimeoutAction", 3);
    ExpectSettings(PeekWatchdogSettings(kSettingsApplied), 1, 2, 900, 120);
    ReadSettingsSnapshot(kSettingsApplied, &copied);
    for (size_t index = 0; index < kSettingCount; ++index) {
        EXPECT_TRUE(SameSettingValue(taken.values[index], copied.values[index]) ||
                    (taken.values[index].size > kSettingDataSize &&
                     copied.values[index].size == kSettingDataSize)) << kSettingCatalogue[index].name;
    }
    static HealthSettings settings;
    g_reported.clear();
    {
        ImportHook hook("advapi32.dll", "ReportEventA", reinterpret_cast<void *>(RecordReportedEvent));
        ASSERT_TRUE(hook.Installed());
        ReadHealthSettings(&settings, true, kSettingsApplied);
    }
    EXPECT_EQ(Lines{"32: HealthServices it is longer than 4113 characters"}, g_reported);
    ReadSettingsSnapshot(kSettingsConfigured, &taken);
    ASSERT_TRUE(PublishAppliedSettings(taken));
    ExpectSettings(PeekWatchdogSettings(kSettingsApplied), 3, 2, 60, 120);
    RemoveAppliedSettings();
    EXPECT_FALSE(AppliedSettingsPublished());
}

class ConfigurationWithoutKey : public Configuration {
protected:
    void SetUp() override
    {
        Configuration::SetUp();
        RegCloseKey(key_);
        key_ = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServiceKeyPath));
    }

    static bool KeyExists()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
};

TEST_F(ConfigurationWithoutKey, NothingIsCreatedAndTheRepairValuesAreUsed)
{
    WriteServiceConfiguration(3, 0);
    EXPECT_FALSE(KeyExists());
    RegistryRecorder recorder;
    ExpectSettings(LoadWatchdogSettings(), 3, 0, 3000, 0);
    Lines attempts;
    for (int value = 0; value < 4; ++value) {
        attempts.insert(attempts.end(), {"open 0x20019", "open 0x20019", "open 0x2001F"});  // policy, service, repair
    }
    EXPECT_EQ(attempts, recorder.Calls()) << "each value is tried and its repair attempted on its own";
    DWORD seconds = 77;
    EXPECT_FALSE(ReadHeartbeatInterval(&seconds));
    EXPECT_EQ(0u, seconds);
    EXPECT_FALSE(KeyExists());
}

// -install and -remove run in this process, so that the calls Wine cannot show are seen: the
// recovery actions (Wine's ChangeServiceConfig2A stores none of them and QueryServiceConfig2A
// answers 124, where Windows shows them on the service's Recovery page) and the event source.
TEST(Installation, InstallConfiguresRecoveryAndTheEventSourceAndRemoveDeletesTheSource)
{
    ASSERT_TRUE(RemoveServiceIfPresent(kServiceName));
    ASSERT_TRUE(RemoveServiceEventSource());
    ASSERT_TRUE(CreateSessionTable()) << "the install sends the stop request";
    CommandOptions options = {true, false, false, false, 3, 0};
    std::vector<std::string> configured;
    {
        ServiceConfig2Recorder recorder;
        ASSERT_TRUE(recorder.Installed());
        testing::internal::CaptureStdout();
        InstallService(options);
        EXPECT_EQ("DuraRavuviZerovod Service installed.\n", testing::internal::GetCapturedStdout());
        configured = recorder.Calls();
    }
    EXPECT_EQ(kRecoveryCalls, configured);
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, 0, KEY_READ, &key));
    char file[MAX_PATH] = {};
    DWORD types = 0, type = 0, size = sizeof(file) - 1;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE *>(file), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_STREQ(program, file) << "the program carries the message table";
    size = sizeof(types);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "TypesSupported", nullptr, &type, reinterpret_cast<BYTE *>(&types), &size));
    EXPECT_EQ(7u, types);
    RegCloseKey(key);

    testing::internal::CaptureStdout();
    UninstallService();
    EXPECT_EQ("The DuraRavuviZerovod Service removed.\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, 0, KEY_READ, &key));
    EXPECT_TRUE(RemoveServiceIfPresent(kServiceName));
    DestroySessionTable();
}
