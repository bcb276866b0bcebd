// The command line as the installer receives it, the banner and the usage screen, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "setup_codes.h"
#include "setup_test_support.h"

// 69 "=", and 25 spaces between the version and the date.
static const std::string kSeparator(69, '=');
static const std::string kBannerText = kSeparator + "\n" +
                                       "BMC Device Driver & VX7 API Library 64bit Installer\n"
                                       "Version: 1.19" + std::string(25, ' ') + "Nov/1/2007\n"
                                       "Copyright (C) 2007-2026 Zynvarra Systems. All rights reserved.\n" +
                                       kSeparator + "\n";

static DWORD Parse(std::initializer_list<const char *> options)
{
    std::vector<char *> argv = {const_cast<char *>("C:\\package\\setup.exe")};
    for (const char *option : options) argv.push_back(const_cast<char *>(option));
    g_setupOptions = 0xDEAD;
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(ParseCommandLine, StoresTheWordItReturns)
{
    EXPECT_EQ(OPT_INSTALL, Parse({}));
    EXPECT_EQ(OPT_INSTALL, g_setupOptions);
    EXPECT_EQ(OPT_INSTALL | OPT_QUIET, Parse({"-Q"}));
    EXPECT_EQ(OPT_INSTALL | OPT_QUIET, g_setupOptions);
    EXPECT_EQ(OPT_INSTALL | OPT_USAGE, Parse({"/q"}));
    EXPECT_EQ(OPT_INSTALL | OPT_SILENT | OPT_USAGE, Parse({"-n", "-x"}));
    EXPECT_EQ(OPT_UNINSTALL | OPT_QUIET, Parse({"-u", "-q"}));
    EXPECT_EQ(OPT_USAGE, Parse({"-h", "-u"}));
    EXPECT_EQ(OPT_USAGE, g_setupOptions);
    EXPECT_EQ(OPT_INSTALL | OPT_QUIET | OPT_USAGE, Parse({"-q", "-x", "-u"}));
    EXPECT_EQ(static_cast<BYTE>(OPT_INSTALL | OPT_QUIET | OPT_USAGE), OptionMode());
}

TEST(Banner, FiveLinesPrintedAsOne)
{
    ConsoleCapture console;
    PrintBanner();
    EXPECT_EQ(WithCrLf(kBannerText), console.Output());
}

TEST(UsageScreen, BannerUsageLinesAndKeyWaitThenResult2)
{
    NoConsoleInput noInput;
    ConsoleCapture console;
    EXPECT_EQ(kExitFailed, ShowUsageScreen());
    std::string expected = kBannerText +
                           "\n"
                           "     Usage: setup [-q|-n|-h|-u]\n"
                           "\n"
                           "     none:  Interactive mode\n"
                           "     -q     Quiet mode\n"
                           "     -n     No screen output at all\n"
                           "     -h     Hardware detect (see installation return code values 8 & 16)\n"
                           "     -u     Uninstall the VX7 library and IPMI driver\n"
                           "\n"
                           "     Return Code:\n"
                           "      0     Installed OK, no reboot required.\n"
                           "      1     Installed OK, reboot required.\n"
                           "      2     Install failed.\n"
                           "      8     No hardware found. (Only valid with the -h option.)\n"
                           "      16    IPMI BMC hardware found. No library/driver installation occurred.\n"
                           "            (Only valid with the -h option.)\n"
                           "\n"
                           "Press any key to exit ...\n";
    EXPECT_EQ(WithCrLf(expected), console.Output());
    EXPECT_EQ("", console.Errors());
}
