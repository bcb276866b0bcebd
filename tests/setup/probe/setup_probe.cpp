// Runs one of the installer's operations from the command line, so that scenario scripts can drive
// it in a real terminal or a package layout as a user of setup would.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "command_line.h"
#include "console.h"
#include "driver_package.h"
#include "file_deployment.h"
#include "setup_paths.h"

static int Usage()
{
    fprintf(stderr,
            "setup_probe readkey [count] | banner | usage | paths | install32 MODE | remove32 MODE\n"
            "            | doinit INF-PATH\n");
    return 64;
}

// A question as the installer asks it, then the codes of the keys read.
static int ReadKeys(int count)
{
    ConsolePrint("Press a key:");
    for (int i = 0; i < count; ++i) ConsolePrint(" key=%d", ReadKey());
    ConsoleLine("");
    return 0;
}

static int PrintPaths()
{
    InitPaths();
    const SetupPaths &p = g_setupPaths;
    const char *const fields[][2] = {
        {"windowsDir", p.windowsDir},
        {"systemDir", p.systemDir},
        {"installedDriver", p.installedDriver},
        {"installedLibrary", p.installedLibrary},
        {"installedService", p.installedService},
        {"installedLibrary32", p.installedLibrary32},
        {"packagedLibrary", p.packagedLibrary},
        {"packagedService", p.packagedService},
        {"packagedLibrary32", p.packagedLibrary32},
    };
    for (const auto &field : fields) printf("%s=%s\n", field[0], field[1]);
    return 0;
}

static int ReadInf(const char *path)
{
    if (strlen(path) >= sizeof(g_driverPackage.infPath)) return Usage();
    strcpy(g_driverPackage.infPath, path);
    int result = DoInit();
    printf("result=%d hardwareId=%s\n", result, g_driverPackage.hardwareId);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 2) return Usage();
    const char *command = argv[1];
    if (strcmp(command, "readkey") == 0) return ReadKeys(argc > 2 ? atoi(argv[2]) : 1);
    if (strcmp(command, "banner") == 0) return PrintBanner(), 0;
    if (strcmp(command, "usage") == 0) return ShowUsageScreen();
    if (strcmp(command, "paths") == 0) return PrintPaths();
    if (strcmp(command, "doinit") == 0 && argc == 3) return ReadInf(argv[2]);
    if ((strcmp(command, "install32") == 0 || strcmp(command, "remove32") == 0) && argc == 3) {
        InitPaths();
        BYTE mode = static_cast<BYTE>(strtoul(argv[2], nullptr, 0));
        int result = command[0] == 'i' ? InstallLibrary32(mode) : RemoveLibrary32(mode);
        ConsolePrint("[result %d]\n", result);
        return result;
    }
    return Usage();
}
