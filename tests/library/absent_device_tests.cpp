// With the driver stopped, opening a session reports the device as absent and changes nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include "test_helpers.h"
#include "zynvx7w.h"

// The test bed runs the simulated driver as the plain kernel service "imbsim".
static bool ControlDriver(bool start)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    SC_HANDLE service = OpenServiceA(manager, "imbsim", SERVICE_ALL_ACCESS);
    bool done = false;
    if (service != nullptr) {
        SERVICE_STATUS status = {};
        if (start) {
            done = StartServiceA(service, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
        } else {
            done = ControlService(service, SERVICE_CONTROL_STOP, &status) || GetLastError() == ERROR_SERVICE_NOT_ACTIVE;
        }
        for (int i = 0; done && i < 100; ++i) {
            if (!QueryServiceStatus(service, &status)) break;
            if (status.dwCurrentState == (start ? SERVICE_RUNNING : SERVICE_STOPPED)) break;
            Sleep(50);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return done;
}

class AbsentDevice : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ControlDriver(false)); }
    void TearDown() override { EXPECT_TRUE(ControlDriver(true)); }
};

TEST_F(AbsentDevice, OpenReportsDevNotExistAndLeavesTheVariable)
{
    DWORD session = 0xCAFE;
    EXPECT_RESULT_WITH_SENTINEL(ERROR_DEV_NOT_EXIST, OpenVX7Driver(&session));
    EXPECT_EQ(0xCAFEu, session);
    EXPECT_RESULT_WITH_SENTINEL(ERROR_DEV_NOT_EXIST, OpenVX7Driver(&session));
    EXPECT_RESULT_WITH_SENTINEL(ERROR_INVALID_HANDLE, CloseVX7Driver(0)) << "no slot was taken";
}

TEST_F(AbsentDevice, NextOpenTriesTheDeviceAgain)
{
    DWORD session = 0xCAFE;
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEV_NOT_EXIST), OpenVX7Driver(&session));
    ASSERT_TRUE(ControlDriver(true));
    EXPECT_EQ(0u, OpenVX7Driver(&session));
    EXPECT_EQ(0u, session);
    EXPECT_EQ(0u, CloseVX7Driver(0));
}
