// Detection and the probe: the library loaded from the installed path, its version, Get Device ID,
// and the result and line for every way it can end.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "bmc_detection.h"
#include "import_hook.h"
#include "setup_codes.h"
#include "setup_paths.h"
#include "setup_test_support.h"
#include "simulated_bmc.h"
#include "test_device_nodes.h"
#include "test_helpers.h"

static const char kVersionLine[] = "VX7API information\tzynvx7w.dll version 1.6\n";
static const char kFullIdentity[] = "Get DeviceID Raw data:\t20 81 01 23 02 bf 4c 1c 00 10 73 \n"
                                    " Hardware revision: \t1.8 \n"
                                    " Firmware revision: \t1.23 \n"
                                    " IPMI version: \t\t2.0 \n"
                                    " ManufacturerID: \t7244 \n";

struct Outcome {
    int result;
    std::string printed;
};

// Runs a detection or a probe and checks that the library is no longer loaded afterwards.
template <typename Operation>
static Outcome Probe(Operation operation, BYTE options)
{
    Outcome outcome;
    ConsoleCapture capture;
    SetLastError(kLastErrorSentinel);
    outcome.result = operation(options);
    // The capture holds what the runtime wrote in text mode; the program itself never writes "\r\n".
    const std::string &written = capture.Output();
    for (size_t i = 0; i < written.size(); ++i) {
        if (!(written[i] == '\r' && i + 1 < written.size() && written[i + 1] == '\n')) outcome.printed += written[i];
    }
    EXPECT_EQ(nullptr, GetModuleHandleA("zynvx7w.dll")) << "the library stays loaded after the probe";
    return outcome;
}

static std::string BesideTestProgram(const char *name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.rfind('\\') + 1) + name;
}

static void UseLibrary(const std::string &path)
{
    ASSERT_LT(path.size(), sizeof(g_setupPaths.installedLibrary));
    strcpy(g_setupPaths.installedLibrary, path.c_str());
}

// Every test starts with the built library as the installed one, a reset BMC and no BMC node.
class Detection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bmc_.Connected()) << "the simulated driver does not answer";
        ASSERT_TRUE(bmc_.Reset());
        UseLibrary(BesideTestProgram("zynvx7w.dll"));
        ASSERT_TRUE(PresentNodesCarrying("*ZYN7310").empty()) << "a BMC node is left from before";
    }

    void TearDown() override { bmc_.Reset(); }

    void AddBmcNode() { ASSERT_FALSE(nodes_.AddRootNode(IdList({"*ZYN7310"})).empty()); }

    void SetIdentity(std::initializer_list<uint8_t> bytes)
    {
        ImbSimBmcConfig config = {};
        config.deviceIdLength = static_cast<uint8_t>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), config.deviceId);
        ASSERT_TRUE(bmc_.SetBmc(config));
    }

    SimulatedBmc bmc_;
    TestNodes nodes_;
};

static int g_loads;
static decltype(&LoadLibraryA) g_loadLibrary;
static HMODULE WINAPI CountLoad(const char *path)
{
    ++g_loads;
    return g_loadLibrary(path);
}

TEST_F(Detection, WithoutABmcNodeNothingIsLoaded)
{
    ImportHook count("kernel32.dll", "LoadLibraryA", reinterpret_cast<void *>(&CountLoad));
    ASSERT_TRUE(count.Installed());
    g_loadLibrary = reinterpret_cast<decltype(&LoadLibraryA)>(count.Original());
    g_loads = 0;

    Outcome interactive = Probe(DetectBmcHardware, MODE_INTERACTIVE);
    EXPECT_EQ(kExitNoHardware, interactive.result);
    EXPECT_EQ("No hardware found.\n", interactive.printed);
    Outcome silent = Probe(DetectBmcHardware, MODE_SILENT);
    EXPECT_EQ(kExitNoHardware, silent.result);
    EXPECT_EQ("", silent.printed);
    EXPECT_EQ(0, g_loads);
    EXPECT_EQ(0u, bmc_.LoggedCount());
}

TEST_F(Detection, ANodeWithoutTheLibraryIsHardwareOnly)
{
    AddBmcNode();
    UseLibrary(BesideTestProgram("absent\\zynvx7w.dll"));
    Outcome interactive = Probe(DetectBmcHardware, MODE_INTERACTIVE);
    EXPECT_EQ(kExitHardwareOnly, interactive.result);
    EXPECT_EQ("IPMI BMC hardware found. No library/driver installation occurred.\n", interactive.printed);
    Outcome silent = Probe(DetectBmcHardware, MODE_SILENT);
    EXPECT_EQ(kExitHardwareOnly, silent.result);
    EXPECT_EQ("", silent.printed);
}

TEST_F(Detection, ALibraryWithoutTheExportsFailsAndIsUnloaded)
{
    AddBmcNode();
    char system[MAX_PATH];
    ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    ASSERT_EQ(nullptr, GetModuleHandleA("msimg32.dll"));
    UseLibrary(std::string(system) + "\\msimg32.dll");
    Outcome outcome = Probe(DetectBmcHardware, MODE_QUIET);
    EXPECT_EQ(kExitFailed, outcome.result);
    EXPECT_EQ("Fail to detect, BMC Device may malfunction.\n", outcome.printed);
    EXPECT_EQ(nullptr, GetModuleHandleA("msimg32.dll"));
}

TEST_F(Detection, AFullAnswerShowsTheVersionAndTheIdentity)
{
    AddBmcNode();
    ImbSimCounters before = bmc_.ReadCounters();
    Outcome interactive = Probe(DetectBmcHardware, MODE_INTERACTIVE);
    EXPECT_EQ(kExitInstalled, interactive.result);
    EXPECT_EQ(std::string(kVersionLine) + kFullIdentity + "Success to access BMC Device.\n", interactive.printed);

    ImbSimCounters after = bmc_.ReadCounters();
    EXPECT_EQ(before.opens + 1, after.opens);
    EXPECT_EQ(before.openHandles, after.openHandles) << "the session was closed";
    ASSERT_EQ(1u, bmc_.LoggedCount());
    const ImbSimLogEntry request = bmc_.ReadLog().back();
    EXPECT_BYTES(request.packet + 8, 5, {0x20, 0x01, 0x06, 0x00, 0x00});

    Outcome silent = Probe(DetectBmcHardware, MODE_SILENT);
    EXPECT_EQ(kExitInstalled, silent.result);
    EXPECT_EQ("", silent.printed);
    EXPECT_EQ(2u, bmc_.LoggedCount()) << "the silent probe asks the BMC too";
}

TEST_F(Detection, IpmiVersionByteShowsMajorThenMinor)
{
    AddBmcNode();
    SetIdentity({0x20, 0x01, 0x85, 0x09, 0x51, 0xBF, 0xFF, 0xFF, 0xFF, 0x10, 0x73, 0x01, 0x02});
    Outcome outcome = Probe(DetectBmcHardware, MODE_QUIET);
    EXPECT_EQ(kExitInstalled, outcome.result);
    EXPECT_EQ(std::string(kVersionLine) +
                  "Get DeviceID Raw data:\t20 01 85 09 51 bf ff ff ff 10 73 \n"
                  " Hardware revision: \t1.0 \n"
                  " Firmware revision: \t5.9 \n"
                  " IPMI version: \t\t1.5 \n"
                  " ManufacturerID: \t16777215 \n"
                  "Success to access BMC Device.\n",
              outcome.printed);
}

TEST_F(Detection, AShortAnswerShowsOnlyWhatCameBack)
{
    AddBmcNode();
    SetIdentity({0x20, 0x81, 0x01, 0x23, 0x02, 0xBF});
    Outcome outcome = Probe(DetectBmcHardware, MODE_INTERACTIVE);
    EXPECT_EQ(kExitInstalled, outcome.result);
    EXPECT_EQ(std::string(kVersionLine) +
                  "Get DeviceID Raw data:\t20 81 01 23 02 bf \n"
                  " Hardware revision: \t1.8 \n"
                  " Firmware revision: \t1.23 \n"
                  " IPMI version: \t\t2.0 \n"
                  "Success to access BMC Device.\n",
              outcome.printed);
}

TEST_F(Detection, ABmcThatDoesNotAnswerInTimeIsNoHardware)
{
    AddBmcNode();
    ImbSimCounters before = bmc_.ReadCounters();
    ASSERT_TRUE(bmc_.DelayAnswers(6000));
    Outcome interactive = Probe(DetectBmcHardware, MODE_INTERACTIVE);
    EXPECT_EQ(kExitNoHardware, interactive.result);
    EXPECT_EQ(std::string(kVersionLine) + "Thread SendVX7Request error: Send error\nNo hardware found.\n",
              interactive.printed);
    EXPECT_EQ(before.openHandles, bmc_.ReadCounters().openHandles) << "the session was closed";

    ASSERT_TRUE(bmc_.CompleteWithStatus(IMB_STATUS_TIMEOUT));
    Outcome silent = Probe(DetectBmcHardware, MODE_SILENT);
    EXPECT_EQ(kExitNoHardware, silent.result);
    EXPECT_EQ("", silent.printed);
}

TEST_F(Detection, TheProbeAlonePrintsNoDetectionLine)
{
    Outcome silent = Probe(AccessBmcDevice, MODE_SILENT);
    EXPECT_EQ(kExitInstalled, silent.result) << "the probe does not look for the node";
    EXPECT_EQ("", silent.printed);
    Outcome quiet = Probe(AccessBmcDevice, MODE_QUIET);
    EXPECT_EQ(kExitInstalled, quiet.result);
    EXPECT_EQ(std::string(kVersionLine) + kFullIdentity, quiet.printed);

    UseLibrary(BesideTestProgram("absent\\zynvx7w.dll"));
    EXPECT_EQ(kExitHardwareOnly, Probe(AccessBmcDevice, MODE_SILENT).result);
}

// Without the driver's device the library loads but opens no session.
class DetectionWithoutDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseLibrary(BesideTestProgram("zynvx7w.dll"));
        ASSERT_FALSE(nodes_.AddRootNode(IdList({"*ZYN7310"})).empty());
        ASSERT_TRUE(ControlSimulatedDriver(false));
    }
    void TearDown() override { EXPECT_TRUE(ControlSimulatedDriver(true)); }

    TestNodes nodes_;
};

TEST_F(DetectionWithoutDriver, TheDeviceMayMalfunction)
{
    Outcome interactive = Probe(DetectBmcHardware, MODE_INTERACTIVE);
    EXPECT_EQ(kExitFailed, interactive.result);
    EXPECT_EQ("Fail to detect, BMC Device may malfunction.\n", interactive.printed);
    Outcome silent = Probe(DetectBmcHardware, MODE_SILENT);
    EXPECT_EQ(kExitFailed, silent.result);
    EXPECT_EQ("", silent.printed);
}
