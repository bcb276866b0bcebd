#include "command_line.h"

#include "console.h"
#include "option_parser.h"
#include "setup_codes.h"

DWORD g_setupOptions = 0;

static const char kBanner[] =
    "=====================================================================\n"
    "BMC Device Driver & VX7 API Library 64bit Installer\n"
    "Version: 1.19                         Nov/1/2007\n"
    "Copyright (C) 2007-2026 Zynvarra Systems. All rights reserved.\n"
    "=====================================================================\n";

static const char *const kUsageLines[] = {
    "",
    "     Usage: setup [-q|-n|-h|-u]",
    "",
    "     none:  Interactive mode",
    "     -q     Quiet mode",
    "     -n     No screen output at all",
    "     -h     Hardware detect (see installation return code values 8 & 16)",
    "     -u     Uninstall the VX7 library and IPMI driver",
    "",
    "     Return Code:",
    "      0     Installed OK, no reboot required.",
    "      1     Installed OK, reboot required.",
    "      2     Install failed.",
    "      8     No hardware found. (Only valid with the -h option.)",
    "      16    IPMI BMC hardware found. No library/driver installation occurred.",
    "            (Only valid with the -h option.)",
    "",
};

DWORD ParseCommandLine(int argc, char **argv)
{
    g_setupOptions = ParseOptionWords(argc, argv);
    return g_setupOptions;
}

void PrintBanner()
{
    ConsolePrint("%s", kBanner);
}

int ShowUsageScreen()
{
    PrintBanner();
    for (const char *line : kUsageLines) ConsoleLine(line);
    ConsoleLine("Press any key to exit ...");
    ReadKey();
    return kExitFailed;
}
