#pragma once
// Exit codes and option bits of the installer; deployment scripts depend on these values.
#include <windows.h>

#include "option_parser.h"

// Process exit codes, the result of the installation flow.
const int kExitInstalled = 0;        // installed, no restart needed
const int kExitRestartRequired = 1;  // installed and Windows asks for a restart; also uninstalled
const int kExitFailed = 2;           // installation or uninstallation failed; usage shown
const int kExitNoHardware = 8;       // no BMC found (with -h), or the BMC did not answer after installing
const int kExitHardwareOnly = 16;    // BMC found, no library/driver installation occurred (with -h)

// Bits of the option word that the command line produces; the parser owns their values.
const DWORD OPT_INSTALL = kOptionInstall;
const DWORD OPT_QUIET = kOptionQuiet;
const DWORD OPT_SILENT = kOptionSilent;
const DWORD OPT_UNINSTALL = kOptionUninstall;
const DWORD OPT_DETECT = kOptionDetect;
const DWORD OPT_USAGE = kOptionUsage;

// Output modes passed to the operations; an operation given the option word reads only its quiet and silent bits.
const BYTE MODE_INTERACTIVE = 0x01;
const BYTE MODE_QUIET = 0x02;
const BYTE MODE_SILENT = 0x04;

inline bool IsSilent(BYTE mode) { return (mode & MODE_SILENT) != 0; }
inline bool IsInteractive(BYTE mode) { return (mode & (MODE_QUIET | MODE_SILENT)) == 0; }
