// The hardware identifier read from a driver package INF through SetupAPI, and the trace lines
// that follow the reading.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver_package.h"
#include "setup_test_support.h"

using Lines = std::vector<std::string>;

static Lines Join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines &part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

static const char kStartField[] = "**************** Start GetField() ***********\n";

// The trace of one field read that found value.
static Lines Field(const std::string &value)
{
    return {kStartField, " GetStringField() sucessed= " + value + "\n", "------------- End of GetField() -----------\n"};
}

static const Lines kOpened = {"********** DoInit() ************\n", "FindFirstFile successful!\n",
                              "Open INF file successful!\n", "********\tEnumManufacturers()\t*********\n"};
static const Lines kModelsFound = {"************** Start EnumDevice *********\n", "Find Device name successful!\n"};
static const Lines kClosed = {"----------- End of EnumDevice() -----------\n", "-------- end of EnumManufacturers() -------\n",
                              "------------ End of DoInit -----------\n"};

class InfReader : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = g_driverPackage;
        strcpy(g_driverPackage.hardwareId, "*BEFORE");
    }
    void TearDown() override { g_driverPackage = saved_; }

    static std::string DataFile(const char *name)
    {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        *(strrchr(path, '\\') + 1) = '\0';
        return std::string(path) + "setup_inf_data\\" + name;
    }

    // DoInit on the file; the trace lands in trace_, and nothing may reach the console.
    int Read(const std::string &path)
    {
        strcpy(g_driverPackage.infPath, path.c_str());
        TraceCapture trace;
        ConsoleCapture console;
        int result = DoInit();
        trace_ = trace.Lines();
        EXPECT_EQ("", console.Output());
        EXPECT_EQ("", console.Errors());
        return result;
    }

    int ReadText(const std::string &text)
    {
        std::string path = scratch_ / "generated.inf";
        EXPECT_TRUE(WriteTextFile(path, text));
        return Read(path);
    }

    bool Traced(const std::string &line) const { return std::find(trace_.begin(), trace_.end(), line) != trace_.end(); }

    // The identifier lines of the trace, in order.
    Lines Identifiers() const
    {
        Lines found;
        for (const std::string &line : trace_) {
            if (line.compare(0, 14, "Get Device ID=") == 0) found.push_back(line);
        }
        return found;
    }

    DriverPackageInfo saved_;
    TempDirectory scratch_;
    Lines trace_;
};

TEST_F(InfReader, DecoratedModelsSectionGivesTheIdentifierWithEveryTraceLineInOrder)
{
    EXPECT_EQ(1, Read(DataFile("decorated.inf")));
    EXPECT_STREQ("*ZYN7310", g_driverPackage.hardwareId);
    EXPECT_EQ(Join({kOpened, Field("Zynvarra Test"), Field("Models"), {"Get INF file field success!\n"},
                    Field("NTamd64"), kModelsFound, Field("Test BMC"), Field("*ZYN7310"),
                    {"Get Device ID= *ZYN7310    nfield=2\n"}, kClosed}),
              trace_);
}

TEST_F(InfReader, OnlyTheFirstDecorationCounts)
{
    EXPECT_EQ(1, Read(DataFile("two_decorations.inf")));
    EXPECT_STREQ("*ZYN7310", g_driverPackage.hardwareId);
}

TEST_F(InfReader, UndecoratedLineWalksThePlainSection)
{
    EXPECT_EQ(1, Read(DataFile("undecorated.inf")));
    EXPECT_STREQ("*ZYN7310", g_driverPackage.hardwareId);
    // The absent decoration is one GetField start with nothing after it.
    EXPECT_EQ(Join({kOpened, Field("Zynvarra Test"), Field("Models"), {"Get INF file field success!\n", kStartField},
                    kModelsFound, Field("Test BMC"), Field("*ZYN7310"), {"Get Device ID= *ZYN7310    nfield=2\n"},
                    kClosed}),
              trace_);
}

TEST_F(InfReader, LastIdentifierOfTheLastLineStaysCompatibleOnesIncluded)
{
    EXPECT_EQ(1, Read(DataFile("compatible.inf")));
    EXPECT_STREQ("*PNP0C08", g_driverPackage.hardwareId);
    EXPECT_EQ((Lines{"Get Device ID= *FIRST    nfield=2\n", "Get Device ID= *ZYN7310    nfield=2\n",
                     "Get Device ID= *PNP0C08    nfield=3\n"}),
              Identifiers());
}

TEST_F(InfReader, PackageInfDeclaresTheIdentifierThatRemovalLooksFor)
{
    EXPECT_EQ(1, Read(DataFile("IMB64Drv.INF")));
    EXPECT_STREQ("*ZYN7310", g_driverPackage.hardwareId);
}

TEST_F(InfReader, ModelsLineWithoutIdentifierFails)
{
    EXPECT_EQ(0, Read(DataFile("no_identifier.inf")));
    EXPECT_STREQ("*BEFORE", g_driverPackage.hardwareId);
    EXPECT_TRUE(Identifiers().empty());
    EXPECT_EQ(Lines(kClosed.begin(), kClosed.end()), Lines(trace_.end() - 3, trace_.end()));
}

TEST_F(InfReader, SecondManufacturerWithMissingSectionFailsAndTheFirstIdentifierStays)
{
    EXPECT_EQ(0, Read(DataFile("missing_second_section.inf")));
    EXPECT_STREQ("*ZYN7310", g_driverPackage.hardwareId);
    Lines tail = Join({Field("Other Maker"), Field("Absent"), {"Get INF file field success!\n"}, Field("NTamd64"),
                       {"************** Start EnumDevice *********\n", "Find Device name failed..\n",
                        "-------- end of EnumManufacturers() -------\n", "------------ End of DoInit -----------\n"}});
    ASSERT_GE(trace_.size(), tail.size());
    EXPECT_EQ(tail, Lines(trace_.end() - tail.size(), trace_.end()));
}

TEST_F(InfReader, NoManufacturerSectionIsReportedWithTheSetupError)
{
    EXPECT_EQ(0, Read(DataFile("no_manufacturer.inf")));
    ASSERT_EQ(7u, trace_.size());
    EXPECT_EQ(kOpened, Lines(trace_.begin(), trace_.begin() + 4));
    EXPECT_EQ("SetupFindFirstLine() is failed..\n", trace_[4]);
    // The code SetupFindFirstLineA left, not one of the trace output's own.
    EXPECT_EQ("EnumManufactures FAILURE: (0xe0000102)\n", trace_[5]);
    EXPECT_EQ("------------ End of DoInit -----------\n", trace_[6]);
    EXPECT_STREQ("*BEFORE", g_driverPackage.hardwareId);
}

TEST_F(InfReader, MissingFileAndFileThatIsNotAWindowsInfFailBeforeReading)
{
    EXPECT_EQ(0, Read(DataFile("absent.inf")));
    EXPECT_EQ((Lines{"********** DoInit() ************\n", "FindFirstFile failed..\n"}), trace_);
    EXPECT_EQ(0, Read(DataFile("not_windows.inf")));
    EXPECT_EQ((Lines{"********** DoInit() ************\n", "FindFirstFile successful!\n", "Open file failed\n"}), trace_);
    EXPECT_STREQ("*BEFORE", g_driverPackage.hardwareId);
}

static std::string ModelsInf(const std::string &modelsName, const std::string &modelsLine)
{
    return "[Version]\nSignature=\"$WINDOWS NT$\"\n[Manufacturer]\nZynvarra Test=" + modelsName + "\n[" + modelsName +
           "]\n" + modelsLine + "\n";
}

TEST_F(InfReader, IdentifierOf103CharactersIsTakenAndOneMoreRefused)
{
    std::string longest = "ROOT\\" + std::string(98, 'I');
    EXPECT_EQ(1, ReadText(ModelsInf("Models", "Test BMC=Install," + longest)));
    EXPECT_EQ(longest, g_driverPackage.hardwareId);
    strcpy(g_driverPackage.hardwareId, "*BEFORE");
    EXPECT_EQ(0, ReadText(ModelsInf("Models", "Test BMC=Install,*ZYN7310," + longest + "I")));
    EXPECT_STREQ("*ZYN7310", g_driverPackage.hardwareId) << "the identifier before the refused one stays";
}

TEST_F(InfReader, ValuesOver259CharactersAreRefusedNotCut)
{
    std::string description(259, 'd');
    EXPECT_EQ(1, ReadText(ModelsInf("Models", description + "=Install,*ZYN7310")));
    EXPECT_TRUE(Traced(" GetStringField() sucessed= " + description + "\n"));
    EXPECT_EQ(0, ReadText(ModelsInf("Models", description + "d=Install,*LONG")));
    EXPECT_TRUE(Traced("GetStringField() fail...\n"));
    EXPECT_TRUE(Identifiers().empty());
    EXPECT_STREQ("*ZYN7310", g_driverPackage.hardwareId);
}

TEST_F(InfReader, DecoratedSectionNameOver259CharactersIsRefused)
{
    std::string models(250, 'M');
    std::string text = ModelsInf(models, "Test BMC=Install,*ZYN7310");
    text.replace(text.find("=" + models) + 1 + models.size(), 0, ",NTamd64.10");
    EXPECT_EQ(0, ReadText(text));
    EXPECT_FALSE(Traced("************** Start EnumDevice *********\n")) << "no section is looked up";
    EXPECT_STREQ("*BEFORE", g_driverPackage.hardwareId);
}
