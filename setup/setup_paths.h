#pragma once
// Where every packaged file comes from and where it is installed; built once at start.
#include <windows.h>

struct SetupPaths {
    char windowsDir[MAX_PATH];
    char systemDir[MAX_PATH];
    char installedDriver[MAX_PATH];     // <system>\drivers\imbdrv.sys
    char installedLibrary[MAX_PATH];    // <system>\zynvx7w.dll
    char installedService[MAX_PATH];    // <system>\zynwatch.exe
    char installedLibrary32[MAX_PATH];  // <windows>\SysWOW64\zynvx7w.dll
    char packagedLibrary[MAX_PATH];     // <setup dir>windows\zynvx7w.dll
    char packagedService[MAX_PATH];     // <setup dir>windows\zynwatch.exe
    char packagedLibrary32[MAX_PATH];   // <setup dir>windows\SysWOW64\zynvx7w.dll
};

extern SetupPaths g_setupPaths;

void InitPaths();

// The setup directory and a packaged name as plain text, into MAX_PATH characters; empty when
// the program's own path is unknown or the whole path does not fit, so nothing is ever taken
// from the current directory.
void JoinPackagedPath(char *path, const char *packagedName);

// Whether every packaged file of SetupPaths has its whole path.
bool PackagedPathsKnown();
