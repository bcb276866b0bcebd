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

// What DoInit may make of a malformed INF: refuse it (0), or read the identifier the text declares.
enum MalformedOutcome { kRefused, kReads, kRefusedOrReads, kRefusedOrPrefix };

struct MalformedInf {
    std::string name;
    std::string bytes;
    MalformedOutcome outcome;
    std::string identifier;  // read when the outcome allows it; kRefusedOrPrefix: any non-empty prefix
};

// The models section comes last, so a cut shortens the identifier before anything else.
static const char kWellFormed[] =
    "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=System\r\n\r\n[Manufacturer]\r\n%Maker%=Models,NTamd64\r\n\r\n"
    "[Strings]\r\nMaker=\"Zynvarra Test\"\r\nDevice=\"Test BMC\"\r\n\r\n[Models.NTamd64]\r\n%Device%=Install,*ZYN7310\r\n";

static std::string Utf16(const std::string &text, bool bigEndian)
{
    std::string wide = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : text) wide += bigEndian ? std::string(1, '\0') + c : std::string(1, c) + '\0';
    return wide;
}

static std::string Replaced(std::string text, const std::string &from, const std::string &to, bool all = false)
{
    for (size_t at = text.find(from); at != std::string::npos; at = all ? text.find(from, at + to.size()) : at) {
        text.replace(at, from.size(), to);
        if (!all) break;
    }
    return text;
}

static std::string ManyManufacturers(int count, bool lastMissing)
{
    std::string text = "[Version]\nSignature=\"$WINDOWS NT$\"\n[Manufacturer]\n", sections;
    for (int i = 0; i < count; ++i) {
        std::string n = std::to_string(i);
        text += "Maker" + n + "=Models" + n + ",NTamd64\n";
        if (!(lastMissing && i == count - 1)) sections += "[Models" + n + ".NTamd64]\nDevice=Install,*ID" + n + "\n";
    }
    return text + sections;
}

static std::vector<MalformedInf> MalformedInfs()
{
    const std::string good = kWellFormed;
    std::vector<MalformedInf> cases;
    for (size_t cut = 0; cut < good.size(); cut += good.size() - cut > 30 ? 9 : 1) {
        cases.push_back({"cut at " + std::to_string(cut), good.substr(0, cut), kRefusedOrPrefix, "*ZYN7310"});
    }
    std::string huge(5000, 'H');
    std::string manyIds;
    for (int i = 0; i < 300; ++i) manyIds += ",*ID" + std::to_string(i);
    cases.insert(cases.end(), {
        {"well formed", good, kReads, "*ZYN7310"},
        {"identifier of 5000 characters", Replaced(good, "*ZYN7310", huge), kRefused, ""},
        {"description of 5000 characters", Replaced(good, "%Device%=", huge + "="), kRefused, ""},
        {"manufacturer of 5000 characters", Replaced(good, "%Maker%=", huge + "="), kRefused, ""},
        {"models section name of 5000 characters",
         Replaced(Replaced(good, "=Models,", "=" + huge + ","), "[Models.", "[" + huge + "."), kRefused, ""},
        {"string of 5000 characters", Replaced(good, "\"Test BMC\"", huge), kRefused, ""},
        {"line of 300 identifiers", Replaced(good, ",*ZYN7310", manyIds), kReads, "*ID299"},
        {"line of 60000 bytes", Replaced(good, "*ZYN7310", std::string(60000, ' ') + "*ZYN7310"), kRefusedOrReads,
         "*ZYN7310"},
        {"no version section", Replaced(good, "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n", ""), kRefusedOrReads,
         "*ZYN7310"},
        {"empty manufacturer section", Replaced(good, "%Maker%=Models,NTamd64\r\n", ""), kRefused, ""},
        {"manufacturer line without models", Replaced(good, "%Maker%=Models,NTamd64", "%Maker%"), kRefused, ""},
        {"manufacturer line with empty fields", Replaced(good, "%Maker%=Models,NTamd64", "=,"), kRefused, ""},
        {"empty models section", Replaced(good, "%Device%=Install,*ZYN7310\r\n", ""), kRefused, ""},
        {"models line without fields", Replaced(good, "%Device%=Install,*ZYN7310", "%Device%"), kRefused, ""},
        {"models line with empty identifiers", Replaced(good, ",*ZYN7310", ",,,"), kRefused, ""},
        {"empty identifier before the real one", Replaced(good, ",*ZYN7310", ",,*ZYN7310,"), kReads, "*ZYN7310"},
        {"no strings section", Replaced(good, "[Strings]", "[Other]"), kReads, "*ZYN7310"},
        {"string naming itself", Replaced(good, "\"Test BMC\"", "%Device%"), kReads, "*ZYN7310"},
        {"unbalanced quote", Replaced(good, "\"Test BMC\"", "\"Test BMC"), kRefusedOrReads, "*ZYN7310"},
        {"unbalanced percent", Replaced(good, "%Device%=", "%Device="), kRefusedOrReads, "*ZYN7310"},
        {"unclosed section bracket", Replaced(good, "[Models.NTamd64]", "[Models.NTamd64"), kRefused, ""},
        {"continuation at the end", good + "\\", kReads, "*ZYN7310"},
        {"identifier continued onto the next line", Replaced(good, "*ZYN7310", "*ZYN\\\r\n7310"), kRefusedOrReads,
         "*ZYN7310"},
        {"byte 0x1A before the models", Replaced(good, "[Models.", "\x1A[Models."), kRefusedOrReads, "*ZYN7310"},
        {"zero byte in the identifier", Replaced(good, "*ZYN7310", std::string("*ZYN\0" "7310", 9)),
         kRefusedOrPrefix, "*ZYN7310"},
        {"line ends of CR alone", Replaced(good, "\r\n", "\r", true), kRefusedOrReads, "*ZYN7310"},
        {"line ends of LF alone", Replaced(good, "\r\n", "\n", true), kReads, "*ZYN7310"},
        {"UTF-8 with a byte order mark", "\xEF\xBB\xBF" + good, kRefusedOrReads, "*ZYN7310"},
        {"UTF-16 little-endian", Utf16(good, false), kReads, "*ZYN7310"},
        {"UTF-16 big-endian", Utf16(good, true), kRefusedOrReads, "*ZYN7310"},
        {"Latin-1 identifier", Replaced(good, "*ZYN7310", "*ZYN\xE9\xFF"), kReads, "*ZYN\xE9\xFF"},
        {"control characters", Replaced(good, "Test BMC", "\x01\x02\x7F\x1B"), kReads, "*ZYN7310"},
        {"300 manufacturers", ManyManufacturers(300, false), kReads, "*ID299"},
        {"300 manufacturers, the last without models", ManyManufacturers(300, true), kRefused, "*ID298"},
    });
    uint32_t random = 12345;
    for (int file = 0; file < 4; ++file) {
        std::string noise = good.substr(0, 60);
        for (int i = 0; i < 400; ++i) noise += static_cast<char>((random = random * 1103515245u + 12345u) >> 24);
        cases.push_back({"noise " + std::to_string(file), noise, kRefusedOrReads, ""});
    }
    return cases;
}

TEST_F(InfReader, MalformedFilesAreRefusedOrReadNeverMisread)
{
    int read = 0;
    std::vector<MalformedInf> cases = MalformedInfs();
    for (const MalformedInf &c : cases) {
        SCOPED_TRACE(c.name);
        strcpy(g_driverPackage.hardwareId, "*BEFORE");
        int result = ReadText(c.bytes);
        std::string id = g_driverPackage.hardwareId;
        ASSERT_LT(id.size(), sizeof(g_driverPackage.hardwareId));
        if (result == 1) ++read;
        switch (c.outcome) {
        case kRefused:
            EXPECT_EQ(0, result);
            break;
        case kReads:
            EXPECT_EQ(1, result);
            break;
        case kRefusedOrReads:
        case kRefusedOrPrefix:
            break;  // either result, judged by what it left below
        }
        if (result == 1 && c.outcome == kRefusedOrPrefix) {
            EXPECT_FALSE(id.empty());
            EXPECT_EQ(0u, c.identifier.rfind(id, 0)) << id << " is not a prefix of " << c.identifier;
        } else if (result == 1 && !c.identifier.empty()) {
            EXPECT_EQ(c.identifier, id);
        } else if (result == 1) {
            EXPECT_NE("*BEFORE", id) << "a reading stores the identifier it read";
        } else if (c.outcome == kRefused) {
            EXPECT_EQ(c.identifier.empty() ? "*BEFORE" : c.identifier, id) << "a refused reading keeps what it had";
        } else {
            EXPECT_EQ("*BEFORE", id) << "a refused reading keeps what it had";
        }
    }
    printf("malformed INF files: %zu, read %d, refused %zu\n", cases.size(), read, cases.size() - read);
}
