// Packet building, status mapping and response delivery of the transport, byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver_packet.h"

static std::vector<uint8_t> Bytes(const void *data, size_t count)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    return std::vector<uint8_t>(bytes, bytes + count);
}

TEST(RequestPacket, HeaderCarriesTimeoutAddressCommandAndSplitNetFn)
{
    DriverRequestPacket packet;
    memset(&packet, 0xCC, sizeof(packet));
    EXPECT_EQ(13u, BuildRequestPacket(&packet, 0x18, 0x01, nullptr, 0, 0x20, 5000000));
    std::vector<uint8_t> expected = {0, 0, 0, 0, 0x40, 0x4B, 0x4C, 0x00, 0x20, 0x01, 0x06, 0x00, 0x00};
    EXPECT_EQ(expected, Bytes(&packet, 13));
    EXPECT_EQ(0x3F, (BuildRequestPacket(&packet, 0xFF, 0, nullptr, 0, 0, 0), packet.networkFunction));
    EXPECT_EQ(3, packet.responderLun);
}

TEST(RequestPacket, DataIsCopiedOnlyWhenGiven)
{
    DriverRequestPacket packet;
    const uint8_t data[51] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(19u, BuildRequestPacket(&packet, 0x18, 0x24, data, 6, 0x20, 9000000));
    EXPECT_EQ(Bytes(data, 6), Bytes(packet.data, 6));
    EXPECT_EQ(64u, BuildRequestPacket(&packet, 0x18, 0x24, data, 51, 0x20, 9000000));
    EXPECT_EQ(13u, BuildRequestPacket(&packet, 0x18, 0x24, nullptr, 6, 0x20, 9000000));
    EXPECT_EQ(0, packet.dataLength);
}

TEST(RequestArguments, OversizedDataAndMissingOutputsAreRefused)
{
    uint8_t data[64] = {}, length = 64, code = 0;
    EXPECT_EQ(kResultSuccess, CheckRequestArguments(data, 51, data, &length, &code));
    EXPECT_EQ(kResultInvalidParameter, CheckRequestArguments(data, 52, data, &length, &code));
    EXPECT_EQ(kResultSuccess, CheckRequestArguments(nullptr, 255, data, &length, &code));
    EXPECT_EQ(kResultInvalidParameter, CheckRequestArguments(nullptr, 0, data, nullptr, &code));
    EXPECT_EQ(kResultInvalidParameter, CheckRequestArguments(nullptr, 0, data, &length, nullptr));
    EXPECT_EQ(kResultInvalidParameter, CheckRequestArguments(nullptr, 0, nullptr, &length, &code));
    length = 0;
    EXPECT_EQ(kResultSuccess, CheckRequestArguments(nullptr, 0, nullptr, &length, &code));
}

TEST(DriverStatus, FourStatusesAreMappedAndTheRestPassThrough)
{
    EXPECT_EQ(122u, MapDriverStatus(0xE0070002u));
    EXPECT_EQ(122u, MapDriverStatus(0xE0070003u));
    EXPECT_EQ(111u, MapDriverStatus(0xE004000Cu));
    EXPECT_EQ(258u, MapDriverStatus(0xE0040007u));
    EXPECT_EQ(0xE0040008u, MapDriverStatus(0xE0040008u));
    EXPECT_EQ(31u, MapDriverStatus(31u));
}

class Delivery : public ::testing::Test {
protected:
    void SetUp() override
    {
        response.completionCode = 0xC1;
        for (size_t i = 0; i < sizeof(response.data); ++i) response.data[i] = static_cast<uint8_t>(i + 1);
        memset(data, 0xA5, sizeof(data));
    }

    DriverResponsePacket response;
    uint8_t data[256];
    uint8_t code = 0xEE;
};

TEST_F(Delivery, SixteenBytesFitSixtyFourButNotFourteen)
{
    uint8_t length = 64;
    EXPECT_EQ(0u, DeliverResponse(&response, 16, data, &length, &code));
    EXPECT_EQ(15, length);
    EXPECT_EQ(0xC1, code);
    EXPECT_EQ(Bytes(response.data, 15), Bytes(data, 15));
    EXPECT_EQ(0xA5, data[15]);

    length = 14;
    code = 0xEE;
    memset(data, 0xA5, sizeof(data));
    EXPECT_EQ(122u, DeliverResponse(&response, 16, data, &length, &code));
    EXPECT_EQ(14, length);
    EXPECT_EQ(0xEE, code);
    EXPECT_EQ(0xA5, data[0]);
}

TEST_F(Delivery, CountOneIsTheCodeAloneAndZeroNeverFits)
{
    uint8_t length = 64;
    EXPECT_EQ(0u, DeliverResponse(&response, 1, data, &length, &code));
    EXPECT_EQ(0, length);
    EXPECT_EQ(0xC1, code);
    EXPECT_EQ(0xA5, data[0]);

    length = 255;
    code = 0xEE;
    EXPECT_EQ(122u, DeliverResponse(&response, 0, data, &length, &code));
    EXPECT_EQ(255, length);
    EXPECT_EQ(0xEE, code);
}

TEST_F(Delivery, CountsBeyondTheResponseBufferAreRefused)
{
    uint8_t length = 255;
    EXPECT_EQ(0u, DeliverResponse(&response, 46, data, &length, &code));
    EXPECT_EQ(45, length);
    for (uint32_t count : {47u, 200u, 256u, 0xFFFFFFFFu}) {
        length = 255;
        EXPECT_EQ(122u, DeliverResponse(&response, count, data, &length, &code)) << count;
        EXPECT_EQ(255, length);
    }
}
