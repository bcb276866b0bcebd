// Driver sessions: numbering, reuse, limits, and the device opened with the first and closed with the last.
#include "library_fixture.h"

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
