// Removing the service: stopping it with a dot per second of stop-pending, then deleting it.
#include <regex>

#include "import_hook.h"
#include "service_event_source.h"
#include "service_fixture.h"

using Removal = ServiceTest;

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

TEST_F(Removal, AServiceThatNeverStopsIsGivenUpAfterAMinuteAndDeletedAllTheSame)
{
    RegisterStandIn("-1", true);
    int result = -1;
    std::string printed = Printed([&] { result = RemoveService(MODE_INTERACTIVE); });
    EXPECT_EQ(0, result);
    // Polled at 1 to 59 seconds with a dot each; the poll at 60 seconds gives up.
    EXPECT_EQ("Stopping DuraRavuviZerovod Service." + std::string(59, '.') +
                  "\nDuraRavuviZerovod Service failed to stop.\nDuraRavuviZerovod Service removed.\n",
              printed);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), [&] {
        SC_HANDLE service = OpenServiceA(manager_, kServiceName, SERVICE_QUERY_STATUS);
        DWORD state = service != nullptr ? State(service) : 0;
        if (service != nullptr) CloseServiceHandle(service);
        return state;
    }()) << "marked for deletion, it lives on until its process ends";
}
