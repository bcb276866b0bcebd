// The installer's option word for every kind of command line, and the words it does not accept.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "option_parser.h"

static uint32_t Parse(std::initializer_list<const char *> options)
{
    std::vector<const char *> argv = {"setup.exe"};
    argv.insert(argv.end(), options.begin(), options.end());
    return ParseOptionWords(static_cast<int>(argv.size()), argv.data());
}

const uint32_t I = kOptionInstall, Q = kOptionQuiet, N = kOptionSilent, U = kOptionUninstall, H = kOptionDetect,
               USAGE = kOptionUsage;

TEST(OptionWord, TypicalCommandLines)
{
    EXPECT_EQ(I, Parse({}));
    EXPECT_EQ(I | Q, Parse({"-q"}));
    EXPECT_EQ(I | N, Parse({"-n"}));
    EXPECT_EQ(I | N, Parse({"-q", "-n"})) << "silent wins";
    EXPECT_EQ(I | N, Parse({"-n", "-q"}));
    EXPECT_EQ(U, Parse({"-u"}));
    EXPECT_EQ(U | Q, Parse({"-u", "-q"}));
    EXPECT_EQ(U | Q, Parse({"-q", "-u"}));
    EXPECT_EQ(U | N, Parse({"-n", "-u"}));
    EXPECT_EQ(H, Parse({"-h"}));
    EXPECT_EQ(H | N, Parse({"-h", "-n"}));
    EXPECT_EQ(H | Q, Parse({"-q", "-h"}));
}

TEST(OptionWord, LetterCaseIsIgnored)
{
    EXPECT_EQ(I | Q, Parse({"-Q"}));
    EXPECT_EQ(I | N, Parse({"-N"}));
    EXPECT_EQ(U | Q, Parse({"-U", "-q"}));
    EXPECT_EQ(H, Parse({"-H"}));
}

TEST(OptionWord, RepeatedOptionsAskForTheUsageScreen)
{
    EXPECT_EQ(I | Q | USAGE, Parse({"-q", "-q"}));
    EXPECT_EQ(I | Q | USAGE, Parse({"-q", "-Q"}));
    EXPECT_EQ(I | N | USAGE, Parse({"-n", "-n"}));
    EXPECT_EQ(H | USAGE, Parse({"-h", "-h"}));
    EXPECT_EQ(U | USAGE, Parse({"-u", "-u"}));
}

TEST(OptionWord, UninstallWithDetectionLeavesOnlyTheUsageBit)
{
    EXPECT_EQ(USAGE, Parse({"-u", "-h"}));
    EXPECT_EQ(USAGE, Parse({"-h", "-u"}));
    EXPECT_EQ(USAGE, Parse({"-q", "-h", "-n", "-u"}));
    EXPECT_EQ(USAGE, Parse({"-u", "-u", "-h"}));
}

TEST(OptionWord, UnknownWordEndsTheScanWithInstallStillSet)
{
    for (const char *word : {"-x", "/q", "-qn", "q", "-", "", "--q", "-q ", "-y"}) {
        EXPECT_EQ(I | USAGE, Parse({word})) << "[" << word << "]";
    }
    EXPECT_EQ(I | N | USAGE, Parse({"-n", "-x"}));
    EXPECT_EQ(I | Q | USAGE, Parse({"-q", "-x", "-u"})) << "the -u after the unknown word is not looked at";
    EXPECT_EQ(I | USAGE, Parse({"-x", "-h"}));
    EXPECT_EQ(U | USAGE, Parse({"-u", "/h"}));
}

TEST(OptionWord, MissingWordsAreUnknownAndNoWordsIsAnInstallation)
{
    const char *argv[] = {"setup.exe", nullptr};
    EXPECT_EQ(I | USAGE, ParseOptionWords(2, argv));
    EXPECT_EQ(I, ParseOptionWords(1, argv));
    EXPECT_EQ(I, ParseOptionWords(0, argv));
}
