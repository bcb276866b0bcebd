#pragma once
// The installer's command line and the option word it produces.
#include <windows.h>

// Written once by ParseCommandLine, read by every other operation.
extern DWORD g_setupOptions;

DWORD ParseCommandLine(int argc, char **argv);

// The low byte of the option word, as passed to operations that take an output mode.
inline BYTE OptionMode() { return static_cast<BYTE>(g_setupOptions & 0xFF); }

void PrintBanner();
// Banner, usage lines, "Press any key to exit ..." and a key; gives the usage result, 2.
int ShowUsageScreen();
