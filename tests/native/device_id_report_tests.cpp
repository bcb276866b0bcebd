// The Get Device ID text: the raw bytes that came back and the decoded lines whose bytes are there.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_id_report.h"

static std::string Report(const std::vector<uint8_t> &data, size_t count)
{
    char text[kDeviceIdReportSize];
    memset(text, 'x', sizeof(text));
    size_t length = FormatDeviceIdReport(data.data(), count, text, sizeof(text));
    EXPECT_EQ(strlen(text), length);
    return text;
}

static const std::vector<uint8_t> kIdentity = {0x20, 0x81, 0x01, 0x23, 0x02, 0xBF, 0x4C, 0x1C,
                                               0x00, 0x10, 0x73, 0x00, 0x00, 0x00, 0x00};

TEST(DeviceIdReport, ElevenBytesAreShownAndFourLinesDecoded)
{
    EXPECT_EQ("Get DeviceID Raw data:\t20 81 01 23 02 bf 4c 1c 00 10 73 \n"
              " Hardware revision: \t1.8 \n"
              " Firmware revision: \t1.23 \n"
              " IPMI version: \t\t2.0 \n"
              " ManufacturerID: \t7244 \n",
              Report(kIdentity, kIdentity.size()));
}

TEST(DeviceIdReport, FieldsDecodeByTheirBits)
{
    std::vector<uint8_t> data = {0x00, 0x0F, 0xFF, 0x99, 0x51, 0x00, 0xFF, 0xFF, 0xFF};
    std::string text = Report(data, data.size());
    EXPECT_NE(std::string::npos, text.find(" Hardware revision: \tf.0 \n"));
    EXPECT_NE(std::string::npos, text.find(" Firmware revision: \t7f.99 \n")) << "bit 7 of the major is not shown";
    EXPECT_NE(std::string::npos, text.find(" IPMI version: \t\t1.5 \n"));
    EXPECT_NE(std::string::npos, text.find(" ManufacturerID: \t16777215 \n"));
}

TEST(DeviceIdReport, AShortAnswerShowsOnlyTheLinesItsBytesCover)
{
    const char raw[] = "Get DeviceID Raw data:\t";
    EXPECT_EQ(std::string(raw) + "\n", Report(kIdentity, 0));
    EXPECT_EQ(std::string(raw) + "20 \n", Report(kIdentity, 1));
    EXPECT_EQ(std::string(raw) + "20 81 \n Hardware revision: \t1.8 \n", Report(kIdentity, 2));
    EXPECT_EQ(std::string(raw) + "20 81 01 \n Hardware revision: \t1.8 \n", Report(kIdentity, 3));
    EXPECT_EQ(std::string::npos, Report(kIdentity, 4).find("IPMI"));
    EXPECT_NE(std::string::npos, Report(kIdentity, 5).find(" IPMI version: \t\t2.0 \n"));
    EXPECT_EQ(std::string::npos, Report(kIdentity, 8).find("ManufacturerID"));
    EXPECT_NE(std::string::npos, Report(kIdentity, 9).find(" ManufacturerID: \t7244 \n"));
}

TEST(DeviceIdReport, ASmallBufferIsCutAndStaysTerminated)
{
    char text[12];
    EXPECT_EQ(11u, FormatDeviceIdReport(kIdentity.data(), kIdentity.size(), text, sizeof(text)));
    EXPECT_STREQ("Get DeviceI", text);
    EXPECT_EQ(0u, FormatDeviceIdReport(kIdentity.data(), kIdentity.size(), text, 1));
    EXPECT_STREQ("", text);
    text[0] = 'x';
    EXPECT_EQ(0u, FormatDeviceIdReport(kIdentity.data(), kIdentity.size(), text, 0));
    EXPECT_EQ('x', text[0]);
    char whole[kDeviceIdReportSize];
    FormatDeviceIdReport(nullptr, 5, whole, sizeof(whole));
    EXPECT_STREQ("Get DeviceID Raw data:\t\n", whole) << "no data, nothing decoded";
}
