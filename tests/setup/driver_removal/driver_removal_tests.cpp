// Removal of the driver's device nodes, registry trees and files. Runs in the shared test bed prefix,
// on nodes the tests register themselves (the simulated driver there is a plain service of another name).
#include <windows.h>
#include <cfgmgr32.h>

#include <algorithm>

#include "driver_removal.h"
#include "guards.h"
#include "import_hook.h"
#include "setup_codes.h"
#include "setup_paths.h"
#include "setup_test_support.h"
#include "test_device_nodes.h"
#include "test_helpers.h"

const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\imbdrv";
const char kEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\ACPI\\ZYN7310";

static size_t CountContaining(const std::vector<std::string> &lines, const char *text)
{
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string &line) { return line.find(text) != std::string::npos; });
}

class DriverRemoval : public ::testing::Test {
protected:
    void TearDown() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kServiceKey);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kEnumKey);
    }

    TestNodes nodes_;
};

TEST_F(DriverRemoval, EveryMatchingNodeGoesWithBothRegistryTrees)
{
    ASSERT_TRUE(CreateKeyTree(kEnumKey));
    std::string acpi = nodes_.AddNode("ACPI\\ZYN7310\\0", IdList({"ACPI\\ZYN7310", "*ZYN7310"}));
    std::string root = nodes_.AddRootNode(IdList({"*ZYN7310"}));
    // Registered right after the previous one, so the two are neighbours in the enumeration.
    std::string lower = nodes_.AddRootNode(IdList({"ZYNTEST\\LOWER", "*zyn7310"}));
    std::string other = nodes_.AddRootNode(IdList({"*ZYN73100", "ZYN7310", "*ZYN731"}));
    ASSERT_FALSE(acpi.empty() || root.empty() || lower.empty() || other.empty());
    ASSERT_TRUE(CreateKeyTree(kServiceKey));
    TraceCapture trace;
    EXPECT_EQ(0, RemoveDriver());
    EXPECT_FALSE(NodePresent(acpi)) << "the ACPI-enumerated node";
    EXPECT_FALSE(NodePresent(root)) << "the root-enumerated node";
    EXPECT_FALSE(NodePresent(lower)) << "the lower-case identifier in the second entry";
    EXPECT_TRUE(NodePresent(other)) << "no entry equals the identifier";
    EXPECT_FALSE(KeyExists(kServiceKey));
    EXPECT_FALSE(KeyExists(kEnumKey));
    EXPECT_EQ(0u, CountContaining(trace.Lines(), "CallClassInstaller(REMOVE) FAILURE")) << JoinLines(trace.Lines());
    // Wine's DIF_REMOVE already drops the node from the set, so SetupDiRemoveDevice after it fails with
    // 0xE000020B and traces "CallRemoveDevice(remove) FAILURE: (0xe000020b)"; the node still counts as found.
}

TEST_F(DriverRemoval, TreesAreDeletedAlsoWithoutAMatchingNode)
{
    ASSERT_TRUE(CreateKeyTree(kServiceKey));
    ASSERT_TRUE(CreateKeyTree(kEnumKey));
    EXPECT_EQ(1, RemoveDriver());
    EXPECT_FALSE(KeyExists(kServiceKey));
    EXPECT_FALSE(KeyExists(kEnumKey));
    EXPECT_TRUE(KeyExists("SYSTEM\\CurrentControlSet\\Enum\\ACPI")) << "only the tree goes";
}

TEST_F(DriverRemoval, MissingKeysAndNodesAreNotReported)
{
    TraceCapture trace;
    EXPECT_EQ(1, RemoveDriver());
    EXPECT_EQ(std::vector<std::string>(), trace.Lines());
}

TEST_F(DriverRemoval, NoDeviceSetLeavesTheRegistryAlone)
{
    ASSERT_TRUE(CreateKeyTree(kServiceKey));
    ImportHook hook("setupapi.dll", "SetupDiGetClassDevsA", reinterpret_cast<void *>(RefuseDeviceSet));
    ASSERT_TRUE(hook.Installed());
    TraceCapture trace;
    EXPECT_EQ(-1, RemoveDriver());
    EXPECT_EQ(std::vector<std::string>{"GetClassDevs(All Present Devices) FAILURE: (0x00000008)\n"}, trace.Lines());
    EXPECT_EQ(3, CountSubkeys(kServiceKey));
}

TEST_F(DriverRemoval, HardPropertyReadErrorEndsTheWalkAndLeavesTheRegistryAlone)
{
    ASSERT_NE("", nodes_.AddRootNode(IdList({"*ZYN7310"})));
    ASSERT_TRUE(CreateKeyTree(kServiceKey));
    ImportHook hook("setupapi.dll", "SetupDiGetDeviceRegistryPropertyA", reinterpret_cast<void *>(FailPropertyRead));
    ASSERT_TRUE(hook.Installed());
    TraceCapture trace;
    EXPECT_EQ(1, RemoveDriver());
    EXPECT_EQ(std::vector<std::string>{"GetDeviceRegistryProperty FAILURE: (0x0000001f)\n"}, trace.Lines());
    EXPECT_EQ(3, CountSubkeys(kServiceKey));
}

// The removals the program attempted: the function ("REMOVE" for DIF_REMOVE, "RemoveDevice") and the node.
static std::vector<std::string> g_removals;

static std::string Instance(HDEVINFO set, SP_DEVINFO_DATA *device)
{
    char instance[MAX_DEVICE_ID_LEN] = "";
    SetupDiGetDeviceInstanceIdA(set, device, instance, sizeof(instance), nullptr);
    return instance;
}

static BOOL WINAPI RefuseClassInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA *device)
{
    g_removals.push_back((function == DIF_REMOVE ? "REMOVE " : "other ") + Instance(set, device));
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

static BOOL WINAPI RefuseRemoveDevice(HDEVINFO set, SP_DEVINFO_DATA *device)
{
    g_removals.push_back("RemoveDevice " + Instance(set, device));
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}

TEST_F(DriverRemoval, RefusedClassInstallerStillRemovesTheDeviceAndItCounts)
{
    std::string node = nodes_.AddRootNode(IdList({"*ZYN7310"}));
    ASSERT_NE("", node);
    g_removals.clear();
    {
        ImportHook refuse("setupapi.dll", "SetupDiCallClassInstaller", reinterpret_cast<void *>(RefuseClassInstaller));
        ASSERT_TRUE(refuse.Installed());
        TraceCapture trace;
        EXPECT_EQ(0, RemoveDriver());
        EXPECT_EQ(std::vector<std::string>{"CallClassInstaller(REMOVE) FAILURE: (0x00000005)\n"}, trace.Lines());
    }
    EXPECT_EQ(std::vector<std::string>{"REMOVE " + node}, g_removals);
    EXPECT_FALSE(NodePresent(node)) << "SetupDiRemoveDevice took it";

    // Both refused: both traced in order, the node stays, yet it counts and the trees go.
    node = nodes_.AddRootNode(IdList({"*ZYN7310"}));
    ASSERT_NE("", node);
    ASSERT_TRUE(CreateKeyTree(kServiceKey));
    g_removals.clear();
    {
        ImportHook refuse("setupapi.dll", "SetupDiCallClassInstaller", reinterpret_cast<void *>(RefuseClassInstaller));
        ImportHook refuseRemove("setupapi.dll", "SetupDiRemoveDevice", reinterpret_cast<void *>(RefuseRemoveDevice));
        ASSERT_TRUE(refuse.Installed() && refuseRemove.Installed());
        TraceCapture trace;
        EXPECT_EQ(0, RemoveDriver());
        EXPECT_EQ((std::vector<std::string>{"CallClassInstaller(REMOVE) FAILURE: (0x00000005)\n",
                                            "CallRemoveDevice(remove) FAILURE: (0x0000001f)\n"}),
                  trace.Lines());
    }
    EXPECT_EQ((std::vector<std::string>{"REMOVE " + node, "RemoveDevice " + node}), g_removals);
    EXPECT_TRUE(NodePresent(node));
    EXPECT_FALSE(KeyExists(kServiceKey));
}

// DeleteRegistryTree under a key of the tests' own.
class RegistryTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateKeyTree("SOFTWARE\\ZynTest\\Parent\\Tree"));
        ASSERT_TRUE(CreateKeyTree("SOFTWARE\\ZynTest\\Parent\\Sibling"));
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZynTest\\Parent", 0, KEY_ALL_ACCESS,
                                               parent_.Receive()));
    }
    void TearDown() override
    {
        parent_.Close();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZynTest");
    }

    UniqueRegistryKey parent_;
};

TEST_F(RegistryTree, WholeTreeGoesAndItsSiblingStays)
{
    EXPECT_EQ(1, DeleteRegistryTree(parent_.Get(), "Tree"));
    EXPECT_FALSE(KeyExists("SOFTWARE\\ZynTest\\Parent\\Tree"));
    EXPECT_EQ(3, CountSubkeys("SOFTWARE\\ZynTest\\Parent\\Sibling"));
    EXPECT_EQ(1, CountSubkeys("SOFTWARE\\ZynTest\\Parent"));
}

TEST_F(RegistryTree, EmptyNameDeletesNothingAndAMissingKeyIsNoFailure)
{
    EXPECT_EQ(0, DeleteRegistryTree(parent_.Get(), ""));
    EXPECT_EQ(2, CountSubkeys("SOFTWARE\\ZynTest\\Parent"));
    EXPECT_EQ(3, CountSubkeys("SOFTWARE\\ZynTest\\Parent\\Tree"));
    EXPECT_EQ(1, DeleteRegistryTree(parent_.Get(), "Missing"));
}

typedef LONG(WINAPI *DeleteKeyFunction)(HKEY, const char *);
static DeleteKeyFunction g_deleteKey;

// Refuses to delete any key named "Inner"; everything else is deleted.
static LONG WINAPI KeepInner(HKEY key, const char *subkey)
{
    if (_stricmp(subkey, "Inner") == 0) return ERROR_ACCESS_DENIED;
    return g_deleteKey(key, subkey);
}

TEST_F(RegistryTree, KeyThatStaysIsPassedAndTheRestGoes)
{
    {
        ImportHook hook("advapi32.dll", "RegDeleteKeyA", reinterpret_cast<void *>(KeepInner));
        ASSERT_TRUE(hook.Installed());
        g_deleteKey = reinterpret_cast<DeleteKeyFunction>(hook.Original());
        EXPECT_EQ(1, DeleteRegistryTree(parent_.Get(), "Tree"));
    }
    // Each of the three middle keys keeps only its "Inner" (whose own subkey went).
    for (const char *middle : {"First", "Second", "Third"}) {
        std::string path = std::string("SOFTWARE\\ZynTest\\Parent\\Tree\\") + middle;
        EXPECT_EQ(1, CountSubkeys(path.c_str())) << path;
        EXPECT_EQ(0, CountSubkeys((path + "\\Inner").c_str())) << path;
    }
}

// UninstallDriver on files in a scratch folder, with no console input.
class Uninstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        strcpy(g_setupPaths.installedDriver, (directory_ / "imbdrv.sys").c_str());
        strcpy(g_setupPaths.installedLibrary, (directory_ / "zynvx7w.dll").c_str());
        ASSERT_TRUE(WriteTextFile(g_setupPaths.installedDriver, "driver"));
        ASSERT_TRUE(WriteTextFile(g_setupPaths.installedLibrary, "library"));
    }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kServiceKey); }

    bool DriverFile() { return GetFileAttributesA(g_setupPaths.installedDriver) != INVALID_FILE_ATTRIBUTES; }
    bool LibraryFile() { return GetFileAttributesA(g_setupPaths.installedLibrary) != INVALID_FILE_ATTRIBUTES; }

    // The result and what reached standard output.
    int Run(BYTE mode, std::string *output)
    {
        NoConsoleInput noInput;
        ConsoleCapture console;
        int result = UninstallDriver(mode);
        *output = console.Output();
        return result;
    }

    TempDirectory directory_;
    TestNodes nodes_;
};

TEST_F(Uninstall, NoDriverFoundIsReportedByModeAndTouchesNoFile)
{
    const std::string message = "Unable to find the driver to remove!\n\n";
    const struct {
        BYTE mode;
        std::string output;
    } cases[] = {
        {MODE_INTERACTIVE, message + "Press any key to continue...\n"},
        {MODE_INTERACTIVE | MODE_QUIET, message + "Press any key to continue...\n"},
        {MODE_QUIET, message},
        {MODE_SILENT, ""},
        {0, ""},
    };
    for (const auto &c : cases) {
        std::string output;
        EXPECT_EQ(2, Run(c.mode, &output)) << "mode " << int(c.mode);
        EXPECT_EQ(WithCrLf(c.output), output) << "mode " << int(c.mode);
    }
    EXPECT_TRUE(DriverFile());
    EXPECT_TRUE(LibraryFile());
}

TEST_F(Uninstall, FailedRemovalIsReportedByMode)
{
    ImportHook hook("setupapi.dll", "SetupDiGetClassDevsA", reinterpret_cast<void *>(RefuseDeviceSet));
    ASSERT_TRUE(hook.Installed());
    std::string output;
    EXPECT_EQ(2, Run(MODE_INTERACTIVE, &output));
    EXPECT_EQ(WithCrLf("Fail: Unable to remove current driver!\nPress any key to continue...\n"), output);
    EXPECT_EQ(2, Run(MODE_QUIET, &output));
    EXPECT_EQ(WithCrLf("Fail: Unable to remove current driver!\n"), output);
    EXPECT_EQ(2, Run(MODE_SILENT, &output));
    EXPECT_EQ("", output);
    EXPECT_TRUE(DriverFile());
    EXPECT_TRUE(LibraryFile());
}

TEST_F(Uninstall, RemovedDriverTakesBothFilesReadOnlyLibraryIncluded)
{
    ASSERT_NE("", nodes_.AddRootNode(IdList({"*ZYN7310"})));
    ASSERT_TRUE(SetFileAttributesA(g_setupPaths.installedLibrary, FILE_ATTRIBUTE_READONLY));
    std::string output;
    EXPECT_EQ(0, Run(MODE_INTERACTIVE, &output));
    EXPECT_EQ("", output);
    EXPECT_FALSE(DriverFile());
    EXPECT_FALSE(LibraryFile());
    EXPECT_EQ(0u, PresentNodesCarrying("*ZYN7310").size());
}

TEST_F(Uninstall, MissingLibraryIsNoFailure)
{
    ASSERT_NE("", nodes_.AddRootNode(IdList({"*ZYN7310"})));
    ASSERT_TRUE(DeleteFileA(g_setupPaths.installedLibrary));
    std::string output;
    EXPECT_EQ(0, Run(MODE_QUIET, &output));
    EXPECT_FALSE(DriverFile());
}

TEST_F(Uninstall, OnlyTheLibraryDecidesTheResult)
{
    // A file held open without delete sharing cannot be deleted.
    ASSERT_NE("", nodes_.AddRootNode(IdList({"*ZYN7310"})));
    {
        UniqueFileHandle held(CreateFileA(g_setupPaths.installedDriver, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.Valid());
        std::string output;
        EXPECT_EQ(0, Run(MODE_SILENT, &output));
        EXPECT_FALSE(LibraryFile());
    }
    EXPECT_TRUE(DriverFile()) << "its failed deletion is ignored";
    ASSERT_TRUE(WriteTextFile(g_setupPaths.installedLibrary, "library"));
    ASSERT_NE("", nodes_.AddRootNode(IdList({"*ZYN7310"})));
    UniqueFileHandle held(CreateFileA(g_setupPaths.installedLibrary, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.Valid());
    std::string output;
    EXPECT_EQ(-1, Run(MODE_SILENT, &output));
    EXPECT_FALSE(DriverFile());
    EXPECT_TRUE(LibraryFile());
}
