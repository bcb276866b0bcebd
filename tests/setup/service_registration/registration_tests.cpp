// Registering the service: its SCM configuration, its six values in order, and the messages.
#include <cstring>

#include "import_hook.h"
#include "service_config_recorder.h"
#include "service_event_source.h"
#include "service_fixture.h"

struct RegistryValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

// The service key's values with their types and data.
static std::vector<RegistryValue> ServiceKeyValues()
{
    std::vector<RegistryValue> values;
    HKEY key;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_READ, &key);
    // No key has no values; a key that cannot be read would pass for one without any.
    if (error != ERROR_SUCCESS) {
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, error) << "the service key cannot be read";
        return values;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[2048];
        DWORD nameLength = sizeof(name), type = 0, size = sizeof(data);
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        values.push_back({name, type, std::vector<BYTE>(data, data + size)});
    }
    RegCloseKey(key);
    return values;
}

static const RegistryValue *Find(const std::vector<RegistryValue> &values, const char *name)
{
    for (const RegistryValue &value : values) {
        if (_stricmp(value.name.c_str(), name) == 0) return &value;
    }
    return nullptr;
}

static void ExpectDword(const std::vector<RegistryValue> &values, const char *name, DWORD expected)
{
    const RegistryValue *value = Find(values, name);
    ASSERT_NE(nullptr, value) << name;
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), value->type) << name;
    ASSERT_EQ(4u, value->data.size()) << name;
    EXPECT_EQ(expected, ReadLe32(value->data.data())) << name;
}

static void SetDword(const char *name, DWORD value)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_SET_VALUE, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&value), 4));
    RegCloseKey(key);
}

// Names of the values the program sets, in the order it sets them.
static std::vector<std::string> g_valuesSet;
static decltype(&RegSetValueExA) g_setValue;

static LONG WINAPI RecordSetValue(HKEY key, const char *name, DWORD reserved, DWORD type, const BYTE *data,
                                  DWORD size)
{
    g_valuesSet.push_back(name != nullptr ? name : "");
    return g_setValue(key, name, reserved, type, data, size);
}

// The event source's key: "name type=T value" per value, or nothing when the key is absent.
static std::vector<std::string> EventSourceValues()
{
    std::vector<std::string> lines;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return lines;
    for (const char *name : {"EventMessageFile", "TypesSupported"}) {
        BYTE data[512] = {};
        DWORD type = 0, size = sizeof(data) - 1;
        if (RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) continue;
        std::string value = type == REG_DWORD ? std::to_string(ReadLe32(data)) : reinterpret_cast<char *>(data);
        lines.push_back(std::string(name) + " type=" + std::to_string(type) + " " + value);
    }
    RegCloseKey(key);
    return lines;
}

using Registration = ServiceTest;

TEST_F(Registration, CreatesAManualStartServiceWithItsSixValuesInOrder)
{
    const char path[] = "C:\\windows\\system32\\zynwatch.exe";
    int result = -1;
    g_valuesSet.clear();
    std::vector<std::string> configured;
    {
        ImportHook record("advapi32.dll", "RegSetValueExA", reinterpret_cast<void *>(&RecordSetValue));
        ServiceConfig2Recorder configure;
        ASSERT_TRUE(record.Installed());
        ASSERT_TRUE(configure.Installed());
        g_setValue = reinterpret_cast<decltype(&RegSetValueExA)>(record.Original());
        EXPECT_EQ("DuraRavuviZerovod Service installed.\n",
                  Printed([&] { result = RegisterService(MODE_INTERACTIVE, path); }));
        configured = configure.Calls();
    }
    EXPECT_EQ(0, result);
    // Wine enumerates a key's values sorted by name, not in the order they were set (as Windows
    // does), so the order is taken from the calls themselves. The event source follows.
    EXPECT_EQ((std::vector<std::string>{"Description", "PreTimeoutAction", "TimeoutAction", "TimeoutValue",
                                        "PreTimeoutInterval", "HeartbeatInterval", "EventMessageFile",
                                        "TypesSupported"}),
              g_valuesSet);
    EXPECT_EQ((std::vector<std::string>{"EventMessageFile type=2 C:\\windows\\system32\\zynwatch.exe",
                                        "TypesSupported type=4 7"}),
              EventSourceValues());
    // Wine's ChangeServiceConfig2A takes SERVICE_CONFIG_FAILURE_ACTIONS with TRUE and stores
    // nothing, refuses the _FLAG level, and its QueryServiceConfig2A answers 124 for both, where
    // Windows stores and shows them; the calls and their arguments are therefore seen here.
    EXPECT_EQ(kRecoveryCalls, configured);

    QUERY_SERVICE_CONFIGA *config = Config();
    ASSERT_NE(nullptr, config);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), config->dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->dwErrorControl);
    EXPECT_STREQ(path, config->lpBinaryPathName) << "a path without blanks is not quoted";
    EXPECT_STREQ(kServiceDisplayName, config->lpDisplayName);
    EXPECT_STREQ("LocalSystem", config->lpServiceStartName);
    EXPECT_STREQ("", config->lpDependencies);
    EXPECT_STREQ("", config->lpLoadOrderGroup);

    std::vector<RegistryValue> values = ServiceKeyValues();
    const RegistryValue *description = Find(values, kDescriptionValue);
    ASSERT_NE(nullptr, description);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), description->type);
    ASSERT_EQ(361u, description->data.size()) << "the text and its terminating zero";
    EXPECT_EQ(0, memcmp(kServiceDescription, description->data.data(), 361));
    ExpectDword(values, kPreTimeoutActionValue, 0);
    ExpectDword(values, kTimeoutActionValue, 3);
    ExpectDword(values, kTimeoutValueValue, 300);
    ExpectDword(values, kPreTimeoutIntervalValue, 0);
    ExpectDword(values, kHeartbeatIntervalValue, 45);
}

TEST_F(Registration, APathWithABlankIsQuotedAndTheServiceStartsFromIt)
{
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
    std::string directory = std::string(temp) + "zyn blank dir";
    std::string program = directory + "\\stop_pending_service.exe";
    CreateDirectoryA(directory.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(BesideTestProgram("stop_pending_service.exe").c_str(), program.c_str(), FALSE));

    EXPECT_EQ(0, RegisterService(MODE_SILENT, program.c_str()));
    QUERY_SERVICE_CONFIGA *config = Config();
    ASSERT_NE(nullptr, config);
    EXPECT_EQ("\"" + program + "\"", config->lpBinaryPathName);
    EXPECT_TRUE(Start("0")) << "the SCM runs the quoted program";

    EXPECT_EQ(0, RemoveService(MODE_SILENT));
    EXPECT_TRUE(GoneWithin(5000));
    for (int i = 0; i < 50 && !DeleteFileA(program.c_str()); ++i) Sleep(100);
    EXPECT_TRUE(RemoveDirectoryA(directory.c_str()));
}

TEST_F(Registration, AnExistingServiceIsReportedAndKeepsItsValues)
{
    ASSERT_EQ(0, RegisterService(MODE_SILENT, "C:\\windows\\system32\\zynwatch.exe"));
    SetDword(kTimeoutValueValue, 77);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_SET_VALUE, &key));
    RegDeleteValueA(key, kHeartbeatIntervalValue);
    RegCloseKey(key);

    int result = -1;
    std::string printed = Printed([&] { result = RegisterService(MODE_QUIET, "C:\\other\\zynwatch.exe"); });
    EXPECT_EQ(1, result);
    EXPECT_EQ("ASR Service Exist - " + ErrorText(ERROR_SERVICE_EXISTS) + "\n", printed);
    EXPECT_NE(std::string::npos, printed.find("(0x431)"));

    std::vector<RegistryValue> values = ServiceKeyValues();
    ExpectDword(values, kTimeoutValueValue, 77);
    EXPECT_EQ(nullptr, Find(values, kHeartbeatIntervalValue)) << "nothing is rewritten";
    EXPECT_STREQ("C:\\windows\\system32\\zynwatch.exe", Config()->lpBinaryPathName);

    EXPECT_EQ("", Printed([&] { result = RegisterService(MODE_SILENT, "C:\\other\\zynwatch.exe"); }));
    EXPECT_EQ(1, result);
    EXPECT_EQ("EventMessageFile type=2 C:\\windows\\system32\\zynwatch.exe", EventSourceValues().at(0))
        << "the existing registration's source is kept";
}

TEST_F(Registration, SilentRegistrationPrintsNothing)
{
    int result = -1;
    EXPECT_EQ("", Printed([&] { result = RegisterService(MODE_SILENT, "C:\\windows\\system32\\zynwatch.exe"); }));
    EXPECT_EQ(0, result);
    EXPECT_TRUE(Exists());
}

TEST_F(Registration, DescriptionNeedsTheServiceKey)
{
    EXPECT_EQ(0, WriteServiceDescription());
    ASSERT_EQ(0, RegisterService(MODE_SILENT, "C:\\windows\\system32\\zynwatch.exe"));
    EXPECT_EQ(1, WriteServiceDescription());
}

// Refuses to set the one value named g_refusedValue; every other value is set.
static const char *g_refusedValue;

static LONG WINAPI RefuseOneValue(HKEY key, const char *name, DWORD reserved, DWORD type, const BYTE *data,
                                  DWORD size)
{
    if (name != nullptr && strcmp(name, g_refusedValue) == 0) return ERROR_ACCESS_DENIED;
    return g_setValue(key, name, reserved, type, data, size);
}

TEST_F(Registration, AValueThatCannotBeWrittenMakesItIncompleteAndTheOthersAreStillWritten)
{
    const char path[] = "C:\\windows\\system32\\zynwatch.exe";
    const char *const names[] = {kDescriptionValue, kPreTimeoutActionValue, kTimeoutActionValue,
                                 kTimeoutValueValue, kPreTimeoutIntervalValue, kHeartbeatIntervalValue};
    for (const char *refused : {kDescriptionValue, kTimeoutValueValue}) {
        int result = -1;
        std::string printed;
        {
            ImportHook refuse("advapi32.dll", "RegSetValueExA", reinterpret_cast<void *>(&RefuseOneValue));
            ASSERT_TRUE(refuse.Installed());
            g_setValue = reinterpret_cast<decltype(&RegSetValueExA)>(refuse.Original());
            g_refusedValue = refused;
            printed = Printed([&] { result = RegisterService(MODE_INTERACTIVE, path); });
        }
        EXPECT_EQ(1, result) << refused;
        EXPECT_EQ("DuraRavuviZerovod Service installed.\n", printed) << "nothing is printed for a value";
        std::vector<RegistryValue> values = ServiceKeyValues();
        for (const char *name : names) EXPECT_EQ(strcmp(name, refused) != 0, Find(values, name) != nullptr) << name;
        EXPECT_EQ(0, RemoveService(MODE_SILENT));
        ASSERT_TRUE(GoneWithin(5000));
    }
}

// Another service already shows the display name, which the SCM gives to one service only.
TEST_F(Registration, AFailedCreationIsReportedUnlessSilentAndWritesNothing)
{
    SC_HANDLE twin = CreateServiceA(manager_, "ZynTestTwin", kServiceDisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                    "C:\\windows\\system32\\zyntwin.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, twin);
    const char path[] = "C:\\windows\\system32\\zynwatch.exe";
    int quiet = -1, silent = -1;
    std::string printed = Printed([&] { quiet = RegisterService(MODE_QUIET, path); });
    std::string printedSilent = Printed([&] { silent = RegisterService(MODE_SILENT, path); });
    EXPECT_TRUE(DeleteService(twin));
    CloseServiceHandle(twin);

    EXPECT_EQ("Create ASR Service failed - " + ErrorText(ERROR_DUPLICATE_SERVICE_NAME) + "\n", printed);
    EXPECT_EQ(1, quiet);
    EXPECT_EQ("", printedSilent);
    EXPECT_EQ(1, silent);
    EXPECT_TRUE(Gone());
    EXPECT_TRUE(ServiceKeyValues().empty());
}

static SC_HANDLE WINAPI RefuseManager(const char *, const char *, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// Wine's SCM grants every access it is asked for, whatever the caller's token (a restricted token
// with every privilege removed still opens it with SC_MANAGER_ALL_ACCESS), where Windows refuses a
// user who is not an administrator with error 5. The refusal is therefore made here, in the
// program's own import of OpenSCManagerA.
TEST_F(Registration, ARefusedManagerPrintsTheSystemTextAndRegistersNothing)
{
    ImportHook refuse("advapi32.dll", "OpenSCManagerA", reinterpret_cast<void *>(&RefuseManager));
    ASSERT_TRUE(refuse.Installed());
    std::string expected = "OpenSCManager failed - " + ErrorText(ERROR_ACCESS_DENIED) + "\n";
    EXPECT_NE(std::string::npos, expected.find(" (0x5)\n"));

    const char path[] = "C:\\windows\\system32\\zynwatch.exe";
    int result = -1;
    EXPECT_EQ(expected, Printed([&] { result = RegisterService(MODE_INTERACTIVE, path); }));
    EXPECT_EQ(1, result);
    EXPECT_EQ(expected, Printed([&] { result = RemoveService(MODE_QUIET); }));
    EXPECT_EQ(1, result);
    EXPECT_EQ("", Printed([&] { result = RegisterService(MODE_SILENT, path); }));
    EXPECT_EQ(1, result);
    EXPECT_TRUE(Gone());
}
