// The installer's console: the two prints, key reads without console input, and trace lines that
// reach the debugger output and never the console.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console.h"
#include "setup_test_support.h"
#include "test_helpers.h"

using Lines = std::vector<std::string>;

TEST(ConsolePrint, FormattedPrintAddsNothingAndLinePrintAddsOneNewline)
{
    ConsoleCapture console;
    ConsolePrint("%s=%d%%", "answer", 42);
    ConsolePrint("Would you like to overwrite the existing file? [y/n] ");
    ConsoleLine("");
    ConsoleLine("Available!");
    EXPECT_EQ(WithCrLf("answer=42%Would you like to overwrite the existing file? [y/n] \nAvailable!\n"),
              console.Output());
    EXPECT_EQ("", console.Errors()) << "nothing goes to standard error";
}

TEST(ConsolePrint, EachPrintIsOnItsWayBeforeItReturns)
{
    ConsoleCapture console;
    ConsolePrint("Press any key to continue...");
    EXPECT_EQ("Press any key to continue...", console.OutputSoFar());
    ConsoleLine("Driver not found!");
    EXPECT_EQ(WithCrLf("Press any key to continue...Driver not found!\n"), console.OutputSoFar());
}

TEST(ReadKey, WithoutConsoleInputEveryReadEndsAtOnceWithEndOfInput)
{
    NoConsoleInput noInput;
    EXPECT_EQ(kEndOfInput, ReadKey());
    EXPECT_EQ(kEndOfInput, ReadKey());
}

TEST(KeyIs, MatchesTheLetterInEitherCaseAndNothingElse)
{
    EXPECT_TRUE(KeyIs('y', 'y'));
    EXPECT_TRUE(KeyIs('Y', 'y'));
    EXPECT_TRUE(KeyIs('n', 'N'));
    EXPECT_FALSE(KeyIs('n', 'y'));
    EXPECT_FALSE(KeyIs('y' | 0x80, 'y'));
    EXPECT_FALSE(KeyIs(kEndOfInput, 'y'));
    for (char letter : {'y', 'n', 'e', 'd'}) {
        EXPECT_FALSE(KeyIs(0xE0, letter)) << "the prefix of a key without a character";
        EXPECT_FALSE(KeyIs(0x100 | 0x44, letter)) << "the scan code of F10 is the code of D";
        EXPECT_FALSE(KeyIs(0x100 | 0x45, letter));
    }
}

TEST(DiagnosticPrint, FormatsWithTheSystemRulesAndEndsEveryLine)
{
    TraceCapture trace;
    ConsoleCapture console;
    DiagnosticPrint("Get Device ID= %s    nfield=%d\n", "*ZYN7310", 2);
    DiagnosticPrint("%s FAILURE: (0x%08x)", "Label", 0xE0000102u);
    DiagnosticPrint("");
    DiagnosticPrint("ends in a return\r");
    DiagnosticPrint("%u%%|%5d|%-3s|%c|%X|%lu", 7u, 42, "a", 'z', 0xABCu, 4000000000ul);
    EXPECT_EQ("", console.Output());
    EXPECT_EQ("", console.Errors());
    EXPECT_EQ((Lines{"Get Device ID= *ZYN7310    nfield=2\n", "Label FAILURE: (0xe0000102)\r\n", "\r\n",
                     "ends in a return\r\r\n", "7%|   42|a  |z|ABC|4000000000\r\n"}),
              trace.Lines());
}

TEST(DiagnosticPrint, TextBeyondTheSystemFormatterLimitIsCutAndStillEnded)
{
    std::string value(3000, 'v');
    TraceCapture trace;
    DiagnosticPrint(" GetStringField() sucessed= %s", value.c_str());
    ASSERT_EQ(1u, trace.Lines().size());
    const std::string &line = trace.Lines()[0];
    // wvsprintfA writes at most 1024 characters, its terminator included under Wine.
    EXPECT_LE(line.size(), 1026u);
    EXPECT_GE(line.size(), 1000u);
    EXPECT_EQ(" GetStringField() sucessed= vvv", line.substr(0, 31));
    EXPECT_EQ("v\r\n", line.substr(line.size() - 3));
}

TEST(DiagnosticLine, ConstantLineIsSentAsItIsAndKeepsTheLastError)
{
    TraceCapture trace;
    ConsoleCapture console;
    SetLastError(kLastErrorSentinel);
    DiagnosticLine("********\tEnumManufacturers()\t*********\n");
    DiagnosticLine("no line end");
    EXPECT_EQ(kLastErrorSentinel, GetLastError());
    DiagnosticPrint("%d", 1);
    EXPECT_EQ(kLastErrorSentinel, GetLastError());
    EXPECT_EQ("", console.Output());
    EXPECT_EQ((Lines{"********\tEnumManufacturers()\t*********\n", "no line end", "1\r\n"}), trace.Lines());
}

TEST(ReportFailure, TracesTheLabelWithTheLastErrorAndLeavesItUnchanged)
{
    TraceCapture trace;
    ConsoleCapture console;
    SetLastError(0xE0000102);
    EXPECT_EQ(-1, ReportFailure("EnumManufactures"));
    EXPECT_EQ(0xE0000102u, GetLastError());
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(-1, ReportFailure("InstallRootEnumeratedDriver"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ("", console.Output());
    EXPECT_EQ("", console.Errors());
    EXPECT_EQ((Lines{"EnumManufactures FAILURE: (0xe0000102)\n", "InstallRootEnumeratedDriver FAILURE: (0x00000005)\n"}),
              trace.Lines());
}
