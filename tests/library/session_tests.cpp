// Driver sessions: numbering, reuse, limits, and the device opened with the first and closed with the last.
#include "import_hook.h"
#include "library_fixture.h"

// Stand-ins for the library's own imports of CreateFileA and CloseHandle.
static DWORD g_openError;
static HANDLE WINAPI RefuseOpen(const char *, DWORD, DWORD, SECURITY_ATTRIBUTES *, DWORD, DWORD, HANDLE)
{
    SetLastError(g_openError);
    return INVALID_HANDLE_VALUE;
}

// Keeps the handle open, so a device the library failed to forget would still answer.
static std::vector<HANDLE> g_closeRefused;
static BOOL WINAPI RefuseClose(HANDLE handle)
{
    g_closeRefused.push_back(handle);
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}

class Sessions : public LibraryTest {};

TEST_F(Sessions, FirstOpenOpensTheDeviceAndLaterOpensShareIt)
{
    ImbSimCounters before = bmc_.ReadCounters();
    EXPECT_EQ(0u, OpenSession());
    EXPECT_EQ(before.opens + 1, bmc_.ReadCounters().opens);
    EXPECT_EQ(1u, OpenSession());
    EXPECT_EQ(2u, OpenSession());
    ImbSimCounters shared = bmc_.ReadCounters();
    EXPECT_EQ(before.opens + 1, shared.opens);
    EXPECT_EQ(before.openHandles + 1, shared.openHandles);
}

TEST_F(Sessions, ClosedNumberIsReusedFirst)
{
    OpenSession();
    OpenSession();
    OpenSession();
    EXPECT_EQ(0u, CloseVX7Driver(1));
    EXPECT_EQ(1u, OpenSession());
    EXPECT_EQ(3u, OpenSession());
}

TEST_F(Sessions, LastCloseClosesTheDeviceAndTheNextOpenStartsAgainAtZero)
{
    ImbSimCounters before = bmc_.ReadCounters();
    OpenSession();
    OpenSession();
    EXPECT_EQ(0u, CloseVX7Driver(0));
    EXPECT_EQ(before.closes, bmc_.ReadCounters().closes) << "another session is still open";
    EXPECT_EQ(0u, CloseVX7Driver(1));
    ImbSimCounters closed = bmc_.ReadCounters();
    EXPECT_EQ(before.closes + 1, closed.closes);
    EXPECT_EQ(before.openHandles, closed.openHandles);
    EXPECT_EQ(0u, OpenSession());
    EXPECT_EQ(before.opens + 2, bmc_.ReadCounters().opens);
}

TEST_F(Sessions, The513thOpenIsRefusedAndTheOthersStayOpen)
{
    for (DWORD expected = 0; expected < 512; ++expected) ASSERT_EQ(expected, OpenSession());
    DWORD untouched = 0xCAFE;
    EXPECT_RESULT_WITH_SENTINEL(ERROR_NO_SYSTEM_RESOURCES, OpenVX7Driver(&untouched));
    EXPECT_EQ(0xCAFEu, untouched);
    // All 512 are still open: each closes once, and only the last closes the device.
    ImbSimCounters before = bmc_.ReadCounters();
    for (LONG session = 511; session > 0; --session) ASSERT_EQ(0u, CloseVX7Driver(session));
    EXPECT_EQ(before.closes, bmc_.ReadCounters().closes);
    EXPECT_EQ(0u, CloseVX7Driver(0));
    EXPECT_EQ(before.closes + 1, bmc_.ReadCounters().closes);
}

TEST_F(Sessions, ClosingTwiceOrOutOfRangeIsAnInvalidHandle)
{
    OpenSession();
    OpenSession();
    EXPECT_EQ(0u, CloseVX7Driver(1));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, CloseVX7Driver(1));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, CloseVX7Driver(512));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, CloseVX7Driver(-1));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, CloseVX7Driver(0x7FFFFFFF));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, CloseVX7Driver(static_cast<LONG>(0x80000000)));
    // Session 0 is still open and still works; a failed close changed nothing.
    BYTE data[64], length = sizeof(data), code = 0xFF;
    EXPECT_EQ(0u, GetDeviceId(data, &length, &code));
    EXPECT_EQ(0u, CloseVX7Driver(0));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, CloseVX7Driver(0));
}

TEST_F(Sessions, NullSessionVariableIsRefused)
{
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_PARAMETER, OpenVX7Driver(nullptr));
    EXPECT_EQ(0u, OpenSession()) << "the refused open took no slot";
}

TEST_F(Sessions, RefusedDeviceGivesItsOwnErrorAndTakesNoSlot)
{
    ImbSimCounters before = bmc_.ReadCounters();
    {
        ImportHook refuse(GetModuleHandleA("zynvx7w.dll"), "kernel32.dll", "CreateFileA",
                          reinterpret_cast<void *>(&RefuseOpen));
        ASSERT_TRUE(refuse.Installed());
        // Only a missing device (2) becomes 55; its neighbour 3 and the rest pass through.
        for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_PATH_NOT_FOUND}) {
            g_openError = error;
            DWORD untouched = 0xCAFE;
            EXPECT_RESULT_WITH_SENTINEL(error, OpenVX7Driver(&untouched));
            EXPECT_EQ(0xCAFEu, untouched) << error;
        }
    }
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, CloseVX7Driver(0)) << "no slot was taken";
    EXPECT_EQ(before.opens, bmc_.ReadCounters().opens);
    EXPECT_EQ(0u, OpenSession()) << "the next open tries the device again";
    EXPECT_EQ(before.opens + 1, bmc_.ReadCounters().opens);
}

TEST_F(Sessions, FailedLastCloseGivesItsErrorReleasesTheSessionAndForgetsTheDevice)
{
    OpenSession();
    OpenSession();
    g_closeRefused.clear();
    {
        ImportHook refuse(GetModuleHandleA("zynvx7w.dll"), "kernel32.dll", "CloseHandle",
                          reinterpret_cast<void *>(&RefuseClose));
        ASSERT_TRUE(refuse.Installed());
        EXPECT_EQ(0u, CloseVX7Driver(0));
        EXPECT_TRUE(g_closeRefused.empty()) << "another session is still open";
        EXPECT_RESULT_WITH_SENTINEL(ERROR_GEN_FAILURE, CloseVX7Driver(1));
    }
    ASSERT_EQ(1u, g_closeRefused.size());
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, CloseVX7Driver(1)) << "the session was released";
    // The handle is still open, yet a request without a session does not travel over it.
    BYTE data[64], length = sizeof(data), code = 0xEE;
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, GetDeviceId(data, &length, &code));
    EXPECT_EQ(0u, bmc_.LoggedCount());
    ImbSimCounters before = bmc_.ReadCounters();
    EXPECT_EQ(0u, OpenSession());
    EXPECT_EQ(before.opens + 1, bmc_.ReadCounters().opens) << "the next open opens the device afresh";
    EXPECT_EQ(0u, GetDeviceId(data, &length, &code));
    EXPECT_EQ(0u, CloseVX7Driver(0));
    EXPECT_TRUE(CloseHandle(g_closeRefused[0]));
}
