// Removing the service: stopping it with a dot per second of stop-pending, stopping the BMC's
// watchdog when that stop may have left it running, then deleting it.
#include <regex>

#include "import_hook.h"
#include "service_event_source.h"
#include "service_fixture.h"
#include "simulated_bmc.h"

using Removal = ServiceTest;

const std::vector<uint8_t> kStopRequest = {0x24, 0x04, 0x00, 0x00, 0x10, 0xB8, 0x0B};

// The command byte and the data of a request the simulated driver logged.
static std::vector<uint8_t> CommandBytes(const ImbSimLogEntry &entry)
{
    std::vector<uint8_t> command = {entry.packet[9]};
    for (uint8_t i = 0; i < entry.packet[12] && i < 51; ++i) command.push_back(entry.packet[13 + i]);
    return command;
}

TEST_F(Removal, ARunningServiceIsStoppedWithDotsThenRemoved)
{
    RegisterStandIn("3", true);
    int result = -1;
    ULONGLONG start = GetTickCount64();
    std::string printed = Printed([&] { result = RemoveService(MODE_INTERACTIVE); });
    ULONGLONG seconds = (GetTickCount64() - start + 500) / 1000;
    EXPECT_EQ(0, result);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(printed, match,
                                 std::regex("Stopping DuraRavuviZerovod Service\\.(\\.+)\n"
                                            "DuraRavuviZerovod Service stopped\\.\n"
                                            "DuraRavuviZerovod Service removed\\.\n")))
        << printed;
    // Polled once a second: a dot for each poll that found it stop-pending, none for the last. Three
    // seconds of stop-pending outlast the first poll even on a loaded machine.
    EXPECT_LE(static_cast<ULONGLONG>(match[1].length()), seconds - 1) << printed;
    EXPECT_TRUE(GoneWithin(5000));
}

TEST_F(Removal, AStoppedServiceGetsOnlyTheRemovalLineAndItsEventSourceGoesWithIt)
{
    RegisterStandIn("0", false);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, 0, KEY_READ, &key));
    RegCloseKey(key);
    int result = -1;
    EXPECT_EQ("DuraRavuviZerovod Service removed.\n", Printed([&] { result = RemoveService(MODE_INTERACTIVE); }));
    EXPECT_EQ(0, result);
    EXPECT_TRUE(GoneWithin(5000));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, 0, KEY_READ, &key));
}

TEST_F(Removal, AnAbsentServiceCannotBeOpened)
{
    int result = -1;
    EXPECT_EQ("Open ASR Service failed - " + ErrorText(ERROR_SERVICE_DOES_NOT_EXIST) + "\n",
              Printed([&] { result = RemoveService(MODE_INTERACTIVE); }));
    EXPECT_EQ(1, result);
    EXPECT_EQ("", Printed([&] { result = RemoveService(MODE_SILENT); }));
    EXPECT_EQ(1, result);
}

static BOOL WINAPI RefuseDeletion(SC_HANDLE)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(Removal, AFailedDeletionIsReportedUnlessSilentAndStillCountsAsRemoved)
{
    RegisterStandIn("0", false);
    int interactive = -1, silent = -1;
    std::string printed, printedSilent;
    {
        ImportHook refuse("advapi32.dll", "DeleteService", reinterpret_cast<void *>(&RefuseDeletion));
        ASSERT_TRUE(refuse.Installed());
        printed = Printed([&] { interactive = RemoveService(MODE_INTERACTIVE); });
        printedSilent = Printed([&] { silent = RemoveService(MODE_SILENT); });
    }
    EXPECT_EQ("Remove ASR Service failed - " + ErrorText(ERROR_ACCESS_DENIED) + "\n", printed);
    EXPECT_EQ(0, interactive);
    EXPECT_EQ("", printedSilent);
    EXPECT_EQ(0, silent);
    EXPECT_TRUE(Exists());
}

TEST_F(Removal, SilentRemovalStopsAndDeletesWithoutAWord)
{
    RegisterStandIn("1", true);
    int result = -1;
    EXPECT_EQ("", Printed([&] { result = RemoveService(MODE_SILENT); }));
    EXPECT_EQ(0, result);
    EXPECT_TRUE(GoneWithin(5000));
}

// Still stopping after 40 s: the watchdog may still run, so the removal stops it, then deletes.
TEST_F(Removal, AServiceThatNeverStopsIsGivenUpAfterFortySecondsAndDeletedOnceTheWatchdogIsStopped)
{
    SimulatedBmc bmc;
    ASSERT_TRUE(bmc.Reset());
    RegisterStandIn("-1", true);
    int result = -1;
    std::string printed = Printed([&] { result = RemoveService(MODE_INTERACTIVE); });
    EXPECT_EQ(0, result);
    // Polled at 1 to 39 seconds with a dot each; the poll at 40 seconds gives up.
    EXPECT_EQ("Stopping DuraRavuviZerovod Service." + std::string(39, '.') +
                  "\nDuraRavuviZerovod Service failed to stop.\nDuraRavuviZerovod Service removed.\n",
              printed);
    std::vector<ImbSimLogEntry> log = bmc.ReadLog();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(kStopRequest, CommandBytes(log[0]));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), [&] {
        SC_HANDLE service = OpenServiceA(manager_, kServiceName, SERVICE_QUERY_STATUS);
        DWORD state = service != nullptr ? State(service) : 0;
        if (service != nullptr) CloseServiceHandle(service);
        return state;
    }()) << "marked for deletion, it lives on until its process ends";
}

// A service that stopped with 1117 may have left the BMC's watchdog running: the stop request
// goes out with the service's retry before the deletion. Refused every time, it keeps the service
// and its event source and says why; taken, the removal prints what it always did.
TEST_F(Removal, AStopThatLeftTheTimerRunningIsFollowedByTheStopRequestAndKeepsTheServiceWhenItFails)
{
    SimulatedBmc bmc;
    for (bool refused : {true, false}) {
        SCOPED_TRACE(refused ? "refused" : "taken");
        ASSERT_TRUE(bmc.Reset());
        ImbSimBehaviour busy = {};
        busy.requestCount = IMBSIM_EVERY_REQUEST;
        busy.fields = IMBSIM_SET_COMPLETION_CODE | IMBSIM_ONLY_COMMAND;
        busy.completionCode = 0xC0;
        busy.command = kStopRequest[0];
        if (refused) ASSERT_TRUE(bmc.SetBehaviour(busy));
        RegisterStandIn("0", true, "1117");
        int result = -1;
        ULONGLONG start = GetTickCount64();
        std::string printed = Printed([&] { result = RemoveService(MODE_QUIET); });
        ULONGLONG took = GetTickCount64() - start;
        std::vector<ImbSimLogEntry> log = bmc.ReadLog();
        for (const ImbSimLogEntry &entry : log) EXPECT_EQ(kStopRequest, CommandBytes(entry));
        if (refused) {
            EXPECT_EQ(kRemoveServiceKept, result);
            EXPECT_EQ("Stopping DuraRavuviZerovod Service.\nDuraRavuviZerovod Service stopped.\n"
                      "The BMC watchdog timer could not be stopped - completion code 0xC0 (" +
                          std::to_string(log.size()) +
                          " requests sent)\nNothing is uninstalled: the timer may still run, and only the heartbeats "
                          "of the DuraRavuviZerovod Service keep the BMC from resetting this server. Start the service "
                          "again, or stop the timer with a BMC tool, then uninstall.\n",
                      printed);
            EXPECT_GE(log.size(), 3u);
            EXPECT_GE(took, 10000u) << "tried for about 10 s";
            EXPECT_TRUE(Exists());
            HKEY key;
            EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, 0, KEY_READ, &key));
            RegCloseKey(key);
            ASSERT_TRUE(RemoveLeftover());
        } else {
            EXPECT_EQ(0, result);
            EXPECT_EQ("Stopping DuraRavuviZerovod Service.\nDuraRavuviZerovod Service stopped.\n"
                      "DuraRavuviZerovod Service removed.\n",
                      printed);
            EXPECT_EQ(1u, log.size());
            EXPECT_TRUE(GoneWithin(5000));
        }
    }
}
