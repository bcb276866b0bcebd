// zynwatch: without arguments the service ZynAsrService; with -install or -remove it installs or
// removes that service; anything else prints the usage text. The exit code is always 0.
#include <windows.h>

#include "command_line.h"
#include "service_installation.h"
#include "service_runtime.h"
#include "session_table.h"

int main(int argc, char **argv)
{
    // Without the session table no request could reach the BMC; there is nothing to do.
    if (!CreateSessionTable()) return 0;
    InitializeServiceState();
    if (argc == 1) {
        RunServiceEntry();
        return 0;
    }
    CommandOptions options = ParseServiceCommandLine(argc, argv);
    if (options.install) {
        InstallService(options);
    } else if (options.remove) {
        UninstallService();
    } else {
        PrintUsage();
    }
    return 0;
}
