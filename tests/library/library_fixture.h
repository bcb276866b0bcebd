#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include "simulated_bmc.h"
#include "test_helpers.h"
#include "zynvx7w.h"

// Every test starts with a reset BMC and no session, and leaves none behind.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bmc_.Connected()) << "the simulated driver does not answer at " IMB_DEVICE_PATH_A;
        ASSERT_TRUE(bmc_.Reset());
    }

    void TearDown() override
    {
        for (LONG session = 0; session < 512; ++session) CloseVX7Driver(session);
        RestoreDefaultTimeout();
        bmc_.Reset();
    }

    DWORD OpenSession()
    {
        DWORD session = 0xFFFF;
        EXPECT_EQ(0u, OpenVX7Driver(&session));
        return session;
    }

    // Get Device ID to the BMC, the request the installer's probe sends.
    DWORD GetDeviceId(BYTE *data, BYTE *length, BYTE *completionCode)
    {
        return SendVX7Request(0, 0x18, 0x01, nullptr, 0, VX7_BMC_ADDRESS, data, length, completionCode);
    }

    ImbSimLogEntry LastLogged()
    {
        std::vector<ImbSimLogEntry> log = bmc_.ReadLog();
        EXPECT_FALSE(log.empty());
        return log.empty() ? ImbSimLogEntry() : log.back();
    }

    static void RestoreDefaultTimeout()
    {
        // The timeout setting is process-wide; bring it back to 5000 ms for the next test.
        DWORD session;
        if (OpenVX7Driver(&session) != 0) return;
        BYTE length = 0, code = 0;
        SendVX7RequestTimed(session, 0x18, 0x22, nullptr, 0, VX7_BMC_ADDRESS, nullptr, &length, &code, 5000);
        CloseVX7Driver(static_cast<LONG>(session));
    }

    SimulatedBmc bmc_;
};
