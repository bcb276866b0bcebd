// With the driver stopped, opening a session reports the device as absent and changes nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include "simulated_bmc.h"
#include "test_helpers.h"
#include "zynvx7w.h"

class AbsentDevice : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ControlSimulatedDriver(false)); }
    void TearDown() override { EXPECT_TRUE(ControlSimulatedDriver(true)); }
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
    ASSERT_TRUE(ControlSimulatedDriver(true));
    EXPECT_EQ(0u, OpenVX7Driver(&session));
    EXPECT_EQ(0u, session);
    EXPECT_EQ(0u, CloseVX7Driver(0));
}
