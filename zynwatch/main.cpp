// zynwatch: without arguments the service ZynAsrService; with -install or -remove it installs or
// removes that service, with -status it reports the protection; anything else prints the usage text.
// The exit code is 0, except for -status (0 protected, 1 not protected, 2 BMC not read,
// 3 heartbeats withheld).
#include <windows.h>

#include "command_line.h"
#include "service_installation.h"
#include "service_runtime.h"
#include "service_status.h"
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
    } else if (options.status) {
        return PrintServiceStatus();
    } else {
        PrintUsage();
    }
    return 0;
}
