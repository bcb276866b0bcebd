// FindInExistDevice against nodes the tests register, and the failures of CreateNewDevice that come
// before any driver is installed. Runs in the shared test bed prefix: no driver is installed here.
#include <windows.h>

#include <regex>

#include "device_nodes.h"
#include "driver_package.h"
#include "import_hook.h"
#include "setup_test_support.h"
#include "test_device_nodes.h"
#include "test_helpers.h"

const char kStart[] = "******* Start FindInExistDevice() ********\n";
const char kEnumerate[] = "Enumerate through all devices.\n";
const char kFound[] = "Found exist device!!\n";
const char kEnd[] = "******* End of FindInExistDevice() ********\n";
const char kClean[] = "*********** Start CleanDEviceInfo **********\n";

// "*p=<entry>     p=<address>    lstrlen(p)=<length>\n"
static bool IsEntryLine(const std::string &line, std::string *entry = nullptr, int *length = nullptr)
{
    static const std::regex shape(R"(\*p=(.*)     p=[0-9a-f]+    lstrlen\(p\)=([0-9]+)\n)");
    std::smatch match;
    if (!std::regex_match(line, match, shape)) return false;
    if (entry) *entry = match[1];
    if (length) *length = std::stoi(match[2]);
    return true;
}

class DeviceSearch : public ::testing::Test {
protected:
    TestNodes nodes_;
};

TEST_F(DeviceSearch, IdentifierInTheSecondEntryIsFound)
{
    ASSERT_NE("", nodes_.AddRootNode(IdList({"ZYNTEST\\SEARCH_SECOND_ACPI", "ZYNTEST\\SEARCH_SECOND"})));
    EXPECT_EQ(1, FindInExistDevice("ZYNTEST\\SEARCH_SECOND"));
}

TEST_F(DeviceSearch, OnlyTheWholeIdentifierInTheSameLetterCaseMatches)
{
    ASSERT_NE("", nodes_.AddRootNode(IdList({"zyntest\\search_case"})));
    ASSERT_NE("", nodes_.AddRootNode(IdList({"ZYNTEST\\SEARCH_CASE_LONGER"})));
    ASSERT_NE("", nodes_.AddRootNode(IdList({"ZYNTEST\\SEARCH_CAS"})));
    EXPECT_EQ(0, FindInExistDevice("ZYNTEST\\SEARCH_CASE"));
    EXPECT_EQ(1, FindInExistDevice("zyntest\\search_case"));
}

TEST_F(DeviceSearch, NodesWithoutIdentifiersAreSkipped)
{
    ASSERT_NE("", nodes_.AddRootNode(""));
    EXPECT_EQ(0, FindInExistDevice("ZYNTEST\\SEARCH_SKIPPED"));
    // Registered after the node without the property, so enumerated after it.
    ASSERT_NE("", nodes_.AddRootNode(IdList({"ZYNTEST\\SEARCH_SKIPPED"})));
    EXPECT_EQ(1, FindInExistDevice("ZYNTEST\\SEARCH_SKIPPED"));
}

TEST_F(DeviceSearch, EmptyIdentifierMatchesNothing)
{
    ASSERT_NE("", nodes_.AddRootNode(IdList({""})));
    ASSERT_NE("", nodes_.AddRootNode(IdList({"ZYNTEST\\SEARCH_EMPTY"})));
    EXPECT_EQ(0, FindInExistDevice(""));
}

TEST_F(DeviceSearch, ListWithoutItsClosingZerosIsReadOnlyAsFarAsReported)
{
    // The property given without its terminators (the walk on data that ends inside an entry is
    // tested natively, on exact-size buffers under the sanitizers).
    const char unterminated[] = "ZYNTEST\\SEARCH_HEAD\0ZYNTEST\\SEARCH_TAIL";
    std::string stored(unterminated, sizeof(unterminated) - 1);
    std::string node = nodes_.AddRootNode(stored);
    ASSERT_NE("", node);
    // Wine keeps one zero after the bytes given; the list still lacks the zero that would close it.
    std::string property = HardwareIdProperty(node);
    ASSERT_EQ(0u, property.find(stored));
    ASSERT_LT(property.size(), stored.size() + 2) << "the list has no closing zeros";
    TraceCapture trace;
    EXPECT_EQ(1, FindInExistDevice("ZYNTEST\\SEARCH_TAIL"));
    std::vector<std::string> lines = trace.Lines();
    ASSERT_GE(lines.size(), 4u);
    std::string entry;
    int length = 0;
    ASSERT_TRUE(IsEntryLine(lines[lines.size() - 4], &entry, &length)) << JoinLines(lines);
    EXPECT_EQ("ZYNTEST\\SEARCH_TAIL", entry);
    EXPECT_EQ(19, length);
    EXPECT_EQ(0, FindInExistDevice("ZYNTEST\\SEARCH_TAI"));
}

// The trace: start, enumeration, one line per entry examined, then the match, end and clean-up.
TEST_F(DeviceSearch, SearchStopsAtTheFirstMatchAndTracesTheEntriesUpToIt)
{
    ASSERT_NE("", nodes_.AddRootNode(IdList({"ZYNTEST\\FIRST_OF_TWO", "ZYNTEST\\SEARCH_TWICE"})));
    ASSERT_NE("", nodes_.AddRootNode(IdList({"ZYNTEST\\SECOND_OF_TWO", "ZYNTEST\\SEARCH_TWICE"})));
    TraceCapture trace;
    EXPECT_EQ(1, FindInExistDevice("ZYNTEST\\SEARCH_TWICE"));
    std::vector<std::string> lines = trace.Lines();
    ASSERT_GE(lines.size(), 6u) << JoinLines(lines);
    EXPECT_EQ(kStart, lines[0]);
    EXPECT_EQ(kEnumerate, lines[1]);
    size_t entries = lines.size() - 3;
    int firstSeen = 0, secondSeen = 0;
    for (size_t i = 2; i < entries; ++i) {
        std::string entry;
        int length = 0;
        ASSERT_TRUE(IsEntryLine(lines[i], &entry, &length)) << "line " << i << "\n" << JoinLines(lines);
        EXPECT_EQ(static_cast<int>(entry.size()), length) << entry;
        firstSeen += entry == "ZYNTEST\\FIRST_OF_TWO";
        secondSeen += entry == "ZYNTEST\\SECOND_OF_TWO";
    }
    EXPECT_EQ(1, firstSeen + secondSeen) << "only the first matching node is examined\n" << JoinLines(lines);
    std::string matched;
    ASSERT_TRUE(IsEntryLine(lines[entries - 1], &matched));
    EXPECT_EQ("ZYNTEST\\SEARCH_TWICE", matched);
    EXPECT_EQ(kFound, lines[entries]);
    EXPECT_EQ(kEnd, lines[entries + 1]);
    EXPECT_EQ(kClean, lines[entries + 2]);
}

TEST_F(DeviceSearch, SearchWithoutMatchEndsWithEndAndCleanUp)
{
    TraceCapture trace;
    EXPECT_EQ(0, FindInExistDevice("ZYNTEST\\NOWHERE"));
    std::vector<std::string> lines = trace.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(kStart, lines[0]);
    EXPECT_EQ(kEnumerate, lines[1]);
    for (size_t i = 2; i + 2 < lines.size(); ++i) EXPECT_TRUE(IsEntryLine(lines[i])) << JoinLines(lines);
    EXPECT_EQ(kEnd, lines[lines.size() - 2]);
    EXPECT_EQ(kClean, lines.back());
}

// Asks for eight bytes whatever it is given.
static BOOL WINAPI NeverEnoughRoom(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD required)
{
    if (required) *required = 8;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
}

TEST(DeviceSearchFailures, NoDeviceSetIsAFailedSearch)
{
    ImportHook hook("setupapi.dll", "SetupDiGetClassDevsA", reinterpret_cast<void *>(RefuseDeviceSet));
    ASSERT_TRUE(hook.Installed());
    TraceCapture trace;
    EXPECT_EQ(-1, FindInExistDevice("ZYNTEST\\ANY"));
    EXPECT_EQ((std::vector<std::string>{kStart, "SetupDiGetClassDevs fail...\n"}), trace.Lines());
}

TEST(DeviceSearchFailures, PropertyReadErrorEndsTheSearchAndKeepsItsError)
{
    ImportHook hook("setupapi.dll", "SetupDiGetDeviceRegistryPropertyA", reinterpret_cast<void *>(FailPropertyRead));
    ASSERT_TRUE(hook.Installed());
    TraceCapture trace;
    EXPECT_EQ(-1, FindInExistDevice("ZYNTEST\\ANY"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError()) << "the clean-up keeps the failing step's error";
    EXPECT_EQ((std::vector<std::string>{kStart, kEnumerate, kClean}), trace.Lines());
}

TEST(DeviceSearchFailures, SizeThatNeverGrowsIsAFailedReadNotALoop)
{
    ImportHook hook("setupapi.dll", "SetupDiGetDeviceRegistryPropertyA", reinterpret_cast<void *>(NeverEnoughRoom));
    ASSERT_TRUE(hook.Installed());
    EXPECT_EQ(-1, FindInExistDevice("ZYNTEST\\ANY"));
}

// CreateNewDevice up to the point where a node would be registered.
class NewNodeFailures : public ::testing::Test {
protected:
    void SetUp() override
    {
        infPath_ = directory_ / "Class.INF";
        ASSERT_TRUE(WriteTextFile(infPath_, "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=System\r\n"
                                            "ClassGuid={4d36e97d-e325-11ce-bfc1-08002be10318}\r\n"));
        nodesBefore_ = PresentNodesCarrying("ZYNTEST\\NEW_NODE").size();
    }

    void ExpectNoNewNode() { EXPECT_EQ(nodesBefore_, PresentNodesCarrying("ZYNTEST\\NEW_NODE").size()); }

    TempDirectory directory_;
    std::string infPath_;
    size_t nodesBefore_ = 0;
};

TEST_F(NewNodeFailures, UnreadableInfClass)
{
    BOOL reboot = FALSE;
    TraceCapture trace;
    EXPECT_EQ(0, CreateNewDevice("ZYNTEST\\NEW_NODE", (directory_ / "Missing.INF").c_str(), &reboot));
    EXPECT_EQ((std::vector<std::string>{"******* Start CreateNewDevice() ********\n", "Extra class GUID failed\n"}),
              trace.Lines());
    ExpectNoNewNode();
}

static BOOL WINAPI RefuseRegistration(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PSP_DETSIG_CMPPROC, PVOID, PSP_DEVINFO_DATA)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(NewNodeFailures, NodeNotRegisteredLeavesNothingBehind)
{
    ImportHook hook("setupapi.dll", "SetupDiRegisterDeviceInfo", reinterpret_cast<void *>(RefuseRegistration));
    ASSERT_TRUE(hook.Installed());
    BOOL reboot = FALSE;
    TraceCapture trace;
    SetLastError(kLastErrorSentinel);
    EXPECT_EQ(0, CreateNewDevice("ZYNTEST\\NEW_NODE", infPath_.c_str(), &reboot));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ((std::vector<std::string>{"******* Start CreateNewDevice() ********\n",
                                        "Transfer registry into actual devnode failed.\n", kClean}),
              trace.Lines());
    ExpectNoNewNode();
}

TEST_F(NewNodeFailures, InstallRootEnumeratedDriverReportsTheFailingStep)
{
    strcpy(g_driverPackage.hardwareId, "ZYNTEST\\NEW_NODE");
    strcpy(g_driverPackage.infPath, (directory_ / "Missing.INF").c_str());
    BOOL reboot = FALSE;
    TraceCapture trace;
    EXPECT_EQ(0, InstallRootEnumeratedDriver(&reboot));
    DWORD error = GetLastError();
    std::vector<std::string> lines = trace.Lines();
    ASSERT_EQ(5u, lines.size()) << JoinLines(lines);
    EXPECT_EQ("********* Start CreateNewDevice() *********\n", lines[0]);
    EXPECT_EQ("******* Start CreateNewDevice() ********\n", lines[1]);
    EXPECT_EQ("Extra class GUID failed\n", lines[2]);
    EXPECT_EQ("Driver Install failed....\n", lines[3]);
    char expected[64];
    snprintf(expected, sizeof(expected), "InstallRootEnumeratedDriver FAILURE: (0x%08lx)\n", error);
    EXPECT_EQ(expected, lines[4]);
    EXPECT_NE(0u, error) << "the INF's error is reported";
    EXPECT_FALSE(reboot);
}
