// The program's command line: options, their words, and the usage text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"

static CommandOptions Parse(std::vector<const char *> arguments)
{
    arguments.insert(arguments.begin(), "zynwatch.exe");
    return ParseServiceCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLine, NoRecognisedOptionChoosesNothing)
{
    CommandOptions options = Parse({"foo", "install", "--install", "status", "--status", "-statusx", "--json"});
    EXPECT_FALSE(options.install);
    EXPECT_FALSE(options.remove);
    EXPECT_FALSE(options.status);
    EXPECT_FALSE(options.json);
    EXPECT_EQ(3, options.timeoutChoice) << "the install value stands";
    EXPECT_EQ(0, options.pretimeoutChoice);
}

TEST(CommandLine, OptionWordsIgnoreLetterCase)
{
    EXPECT_TRUE(Parse({"-INSTALL"}).install);
    EXPECT_TRUE(Parse({"-ReMoVe"}).remove);
    EXPECT_TRUE(Parse({"-StAtUs"}).status);
    EXPECT_TRUE(Parse({"-JSON", "-status"}).json);
    EXPECT_EQ(2, Parse({"-TIMEOUT", "PowerOff"}).timeoutChoice);
    EXPECT_EQ(3, Parse({"-PreTimeout", "MSGINT"}).pretimeoutChoice);
}

TEST(CommandLine, BothCommandsAreSeen)
{
    CommandOptions options = Parse({"-remove", "-status", "-install"});
    EXPECT_TRUE(options.install);
    EXPECT_TRUE(options.remove);
    EXPECT_TRUE(options.status);
}

TEST(CommandLine, TheWordAfterAnOptionIsConsumed)
{
    CommandOptions options = Parse({"-timeout", "-remove"});
    EXPECT_FALSE(options.remove);
    EXPECT_EQ(3, options.timeoutChoice) << "an unknown word chooses power cycle";
    EXPECT_FALSE(Parse({"-pretimeout", "-install"}).install);
    EXPECT_FALSE(Parse({"-timeout", "-status"}).status);
}

TEST(CommandLine, TimeoutWords)
{
    const char *words[] = {"none", "hardreset", "poweroff", "powercycle"};
    for (int number = 0; number < 4; ++number) {
        EXPECT_EQ(number, Parse({"-install", "-timeout", words[number]}).timeoutChoice) << words[number];
    }
    EXPECT_EQ(3, Parse({"-timeout", "none", "-timeout", "reboot"}).timeoutChoice);
    EXPECT_EQ(3, Parse({"-timeout", "hardresetx"}).timeoutChoice);
    EXPECT_EQ(3, Parse({"-timeout", ""}).timeoutChoice);
}

TEST(CommandLine, PretimeoutWords)
{
    const char *words[] = {"none", "smi", "nmi", "msgint"};
    for (int number = 0; number < 4; ++number) {
        EXPECT_EQ(number, Parse({"-pretimeout", words[number]}).pretimeoutChoice) << words[number];
    }
    EXPECT_EQ(2, Parse({"-pretimeout", "nmi", "-pretimeout", "irq"}).pretimeoutChoice) << "unknown keeps";
    EXPECT_EQ(0, Parse({"-pretimeout", "sm"}).pretimeoutChoice);
}

TEST(CommandLine, EachOptionSetsOnlyItsOwnValueAndTheLastWins)
{
    CommandOptions options = Parse({"-timeout", "hardreset", "-pretimeout", "nmi", "-timeout", "poweroff"});
    EXPECT_EQ(2, options.timeoutChoice) << "not combined bit by bit with the earlier 1";
    EXPECT_EQ(2, options.pretimeoutChoice);
    options = Parse({"-timeout", "hardreset", "-pretimeout", "smi", "-pretimeout", "none"});
    EXPECT_EQ(1, options.timeoutChoice) << "none after -pretimeout leaves -timeout alone";
    EXPECT_EQ(0, options.pretimeoutChoice);
    options = Parse({"-pretimeout", "msgint", "-timeout", "none"});
    EXPECT_EQ(0, options.timeoutChoice);
    EXPECT_EQ(3, options.pretimeoutChoice);
}

TEST(CommandLine, ATrailingOptionWithoutItsWordIsIgnored)
{
    CommandOptions options = Parse({"-install", "-timeout", "hardreset", "-timeout"});
    EXPECT_TRUE(options.install);
    EXPECT_EQ(1, options.timeoutChoice);
    options = Parse({"-install", "-pretimeout", "smi", "-pretimeout"});
    EXPECT_EQ(1, options.pretimeoutChoice);
    EXPECT_FALSE(Parse({"-timeout"}).install);
}

TEST(CommandLine, UsageTextByteForByte)
{
    testing::internal::CaptureStdout();
    PrintUsage();
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ("Useage:\n"
              "===== To install the service =====\n"
              "zynwatch -install [ -timeout [none|hardreset|poweroff|powercycle] ]\n"
              "                  [ -pretimeout [none|smi|nmi|msgint] ]\n\n"
              "===== To remove the service =====\n"
              "zynwatch -remove \n\n",
              printed);
}

// A number right after -drill is its countdown, however large; anything else is left to the rest.
TEST(CommandLine, DrillTakesTheNumberRightAfterIt)
{
    CommandOptions options = Parse({"-Drill"});
    EXPECT_TRUE(options.drill);
    EXPECT_EQ(20u, options.drillSeconds) << "the default";
    options = Parse({"-drill", "45", "-json"});
    EXPECT_EQ(45u, options.drillSeconds);
    EXPECT_TRUE(options.json);
    options = Parse({"-drill", "-json"});
    EXPECT_EQ(20u, options.drillSeconds);
    EXPECT_TRUE(options.json) << "not taken for a countdown";
    EXPECT_EQ(5u, Parse({"-drill", "5"}).drillSeconds) << "kept for the drill to refuse";
    EXPECT_EQ(999999u, Parse({"-drill", "123456789012345678901234567890"}).drillSeconds) << "no wrap-around";
    EXPECT_EQ(20u, Parse({"-drill", "30s"}).drillSeconds);
    EXPECT_EQ(20u, Parse({"-drill", ""}).drillSeconds);
    EXPECT_EQ(20u, Parse({"30", "-drill"}).drillSeconds) << "a number before it is no countdown";
    EXPECT_FALSE(Parse({"-timeout", "-drill"}).drill) << "consumed as the word of -timeout";
}
