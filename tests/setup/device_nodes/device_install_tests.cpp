// Installing the package's driver on a new root-enumerated node and updating it: with Wine's own
// newdev (RealDriver) and with the stand-in newdev.dll in the system folder (InjectedNewdev). The
// scenario scripts run each part in a clean prefix of its own, the second with the stand-in in place of
// the prefix's newdev.dll, and give the INF's Windows path in ZYN_INF_PATH.
#include <windows.h>

#include "device_nodes.h"
#include "driver_package.h"
#include "driver_removal.h"
#include "guards.h"
#include "setup_test_support.h"
#include "simulated_bmc.h"
#include "test_device_nodes.h"
#include "test_helpers.h"

const char kDriverId[] = "*ZYN7310";
const char kRootSystemNodes[] = "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\SYSTEM";
const char kOuterStart[] = "********* Start CreateNewDevice() *********\n";
const char kInnerStart[] = "******* Start CreateNewDevice() ********\n";
const char kClean[] = "*********** Start CleanDEviceInfo **********\n";

static void UsePackage()
{
    ASSERT_NE(0u, GetEnvironmentVariableA("ZYN_INF_PATH", g_driverPackage.infPath, sizeof(g_driverPackage.infPath)))
        << "ZYN_INF_PATH names the package's INF";
    strcpy(g_driverPackage.hardwareId, kDriverId);
}

static bool DriverAnswers()
{
    SimulatedBmc bmc;
    return bmc.Connected() && bmc.Reset();
}

// After a restart of the prefix the driver host starts again on its own; give it a few seconds.
static bool DriverAnswersWithin(DWORD milliseconds)
{
    for (DWORD waited = 0; !DriverAnswers(); waited += 100) {
        if (waited >= milliseconds) return false;
        Sleep(100);
    }
    return true;
}

static DWORD ServiceState(const char *name)
{
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(manager.Valid() ? OpenServiceA(manager.Get(), name, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status = {};
    if (!service.Valid() || !QueryServiceStatus(service.Get(), &status)) return 0;
    return status.dwCurrentState;
}

// Each test makes the machine it starts from, so that any one runs alone or in any order; the scenario
// runs them in the order of a machine's life, with a restart after the installation.
class RealDriver : public ::testing::Test {
protected:
    void SetUp() override { UsePackage(); }

    // The package's driver on one node, as the installation leaves it.
    static void MakeInstalledNode()
    {
        BOOL reboot = FALSE;
        if (PresentNodesCarrying(kDriverId).empty()) ASSERT_EQ(1, InstallRootEnumeratedDriver(&reboot));
    }
};

// Starts from a machine without a node carrying the identifier.
TEST_F(RealDriver, NewNodeGetsTheDriverAndItAnswers)
{
    if (!PresentNodesCarrying(kDriverId).empty()) ASSERT_EQ(0, RemoveDriver());
    ASSERT_TRUE(PresentNodesCarrying(kDriverId).empty());
    ASSERT_FALSE(DriverAnswers());
    BOOL reboot = FALSE;
    TraceCapture trace;
    EXPECT_EQ(1, InstallRootEnumeratedDriver(&reboot));
    EXPECT_FALSE(reboot);
    EXPECT_EQ((std::vector<std::string>{kOuterStart, kInnerStart, kClean, "Driver installed successfully!\n"}),
              trace.Lines());
    std::vector<std::string> nodes = PresentNodesCarrying(kDriverId);
    ASSERT_EQ(1u, nodes.size());
    EXPECT_EQ(0u, nodes[0].find("ROOT\\SYSTEM\\")) << nodes[0];
    EXPECT_EQ(IdList({kDriverId}), HardwareIdProperty(nodes[0])) << "one entry and two zeros";
    EXPECT_TRUE(DriverAnswers()) << "\\\\.\\imb";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState("imbdrv"));
    EXPECT_EQ(1, FindInExistDevice(kDriverId));
}

// Starts from an installed node; in the scenario, the node of the test above, the prefix restarted since.
TEST_F(RealDriver, ExistingNodeIsFoundAndUpdated)
{
    ASSERT_NO_FATAL_FAILURE(MakeInstalledNode());
    EXPECT_TRUE(DriverAnswersWithin(10000)) << "the driver came back with the prefix";
    ASSERT_EQ(1, FindInExistDevice(kDriverId));
    BOOL reboot = FALSE;
    TraceCapture trace;
    EXPECT_EQ(1, UpdateExistingDriver(&reboot));
    EXPECT_FALSE(reboot);
    EXPECT_EQ((std::vector<std::string>{"******** Start UpdateExistingDriver() ******\n", "Update driver successful!\n"}),
              trace.Lines());
    EXPECT_EQ(1u, PresentNodesCarrying(kDriverId).size());
    EXPECT_TRUE(DriverAnswers());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState("imbdrv"));
}

// Starts from an installed node; in the scenario, the updated one.
TEST_F(RealDriver, RemovalTakesTheNodeAndTheDevice)
{
    ASSERT_NO_FATAL_FAILURE(MakeInstalledNode());
    TraceCapture trace;
    EXPECT_EQ(0, RemoveDriver());
    EXPECT_TRUE(PresentNodesCarrying(kDriverId).empty());
    EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\imbdrv"));
    EXPECT_FALSE(DriverAnswers()) << "the driver let \\\\.\\imb go with its device";
    EXPECT_EQ(0, FindInExistDevice(kDriverId));
    for (const std::string &line : trace.Lines()) {
        EXPECT_EQ(std::string::npos, line.find("CallClassInstaller(REMOVE)")) << line;
    }
}

// The stand-in newdev.dll answers as ZYN_FAKE_NEWDEV says and logs to ZYN_FAKE_NEWDEV_LOG.
class InjectedNewdev : public ::testing::Test {
protected:
    void SetUp() override
    {
        UsePackage();
        log_ = directory_ / "newdev.log";
        SetEnvironmentVariableA("ZYN_FAKE_NEWDEV_LOG", log_.c_str());
        nodesBefore_ = CountSubkeys(kRootSystemNodes);
    }
    void TearDown() override
    {
        for (const std::string &node : PresentNodesCarrying(kDriverId)) RemoveNode(node);
        SetEnvironmentVariableA("ZYN_FAKE_NEWDEV", nullptr);
        SetEnvironmentVariableA("ZYN_FAKE_NEWDEV_LOG", nullptr);
    }

    std::string ExpectedCall() const
    {
        return std::string("call id=*ZYN7310 inf=") + g_driverPackage.infPath + " flags=1 window=none reboot=given\n";
    }

    TempDirectory directory_;
    std::string log_;
    int nodesBefore_ = 0;
};

TEST_F(InjectedNewdev, FailedInstallationLeavesNoNode)
{
    SetEnvironmentVariableA("ZYN_FAKE_NEWDEV", "fail=0xE0000203");
    BOOL reboot = FALSE;
    TraceCapture trace;
    SetLastError(kLastErrorSentinel);
    EXPECT_EQ(0, InstallRootEnumeratedDriver(&reboot));
    EXPECT_EQ(0xE0000203u, GetLastError()) << "the installation's error, kept through the node's removal";
    EXPECT_FALSE(reboot);
    EXPECT_EQ((std::vector<std::string>{kOuterStart, kInnerStart, "UpdateDriverForPlugAndPlayDevice failed.\n", kClean,
                                        "Driver Install failed....\n",
                                        "InstallRootEnumeratedDriver FAILURE: (0xe0000203)\n"}),
              trace.Lines());
    EXPECT_TRUE(PresentNodesCarrying(kDriverId).empty());
    EXPECT_EQ(nodesBefore_, CountSubkeys(kRootSystemNodes)) << "the registered node was removed again";
    std::string log = ReadFileBytes(log_);
    EXPECT_NE(std::string::npos, log.find(ExpectedCall())) << log;
}

TEST_F(InjectedNewdev, FailedUpdateIsReported)
{
    SetEnvironmentVariableA("ZYN_FAKE_NEWDEV", "fail=0xE000020B");
    BOOL reboot = FALSE;
    TraceCapture trace;
    EXPECT_EQ(0, UpdateExistingDriver(&reboot));
    EXPECT_EQ((std::vector<std::string>{"******** Start UpdateExistingDriver() ******\n", "Update fail...\n"}),
              trace.Lines());
    EXPECT_NE(std::string::npos, ReadFileBytes(log_).find(ExpectedCall()));
}

TEST_F(InjectedNewdev, RestartRequestReachesTheCaller)
{
    SetEnvironmentVariableA("ZYN_FAKE_NEWDEV", "reboot");
    BOOL reboot = FALSE;
    EXPECT_EQ(1, InstallRootEnumeratedDriver(&reboot));
    EXPECT_TRUE(reboot);
    EXPECT_EQ(1u, PresentNodesCarrying(kDriverId).size()) << "the node stays; this newdev installs nothing";
    BOOL updateReboot = FALSE;
    EXPECT_EQ(1, UpdateExistingDriver(&updateReboot));
    EXPECT_TRUE(updateReboot);
    std::string log = ReadFileBytes(log_);
    size_t calls = log.find("call ");
    ASSERT_NE(std::string::npos, calls) << log;
    EXPECT_EQ(ExpectedCall() + ExpectedCall(), log.substr(calls));
    // The stand-in in the system folder, loaded by the process's first call and kept since.
    char path[MAX_PATH] = "", system[MAX_PATH] = "";
    GetModuleFileNameA(GetModuleHandleA("newdev.dll"), path, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(0, _stricmp((std::string(system) + "\\newdev.dll").c_str(), path)) << path;
}
