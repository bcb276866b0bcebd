// zynwatch: without arguments the service ZynAsrService; with -install or -remove it installs or
// removes that service, with -drill it proves the BMC's watchdog without a reset, with -status it
// reports the protection (each with -json as one JSON object; -status with -nagios as a monitoring
// plugin's line, with -prometheus FILE also into a metrics file); anything else prints the usage text.
// The exit code: -install and -remove 0 when they did what was asked, 1 when not; -status 0
// protected, 1 not protected, 2 BMC not read (also when there is no session table), 3 the BMC will
// act: heartbeats are not reaching it, or the service withholds them, 4 the metrics file not
// written; -status -nagios 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN; -drill as drill_rules.h says;
// the service and the usage text 0.
#include <windows.h>

#include "command_line.h"
#include "drill/drill_command.h"
#include "drill/drill_rules.h"
#include "service/service_installation.h"
#include "service/service_runtime.h"
#include "session_table.h"
#include "status/nagios_report.h"
#include "status/status_command.h"
#include "status/status_report.h"

const int kCommandDone = 0;
const int kCommandFailed = 1;

// Without the session table no request could reach the BMC: the commands fail without a word.
static int RunCommand(const CommandOptions &options, bool tableMade)
{
    if (options.install) return tableMade && InstallService(options) ? kCommandDone : kCommandFailed;
    if (options.remove) return tableMade && UninstallService() ? kCommandDone : kCommandFailed;
    if (options.drill) return tableMade ? RunDrillCommand(options.drillSeconds, options.json) : kDrillExitBmcUnread;
    if (options.status && !tableMade) return options.nagios ? static_cast<int>(kNagiosUnknown) : kStatusBmcUnreadable;
    if (options.status) return RunStatusCommand({options.json, options.nagios, options.prometheusFile});
    PrintUsage();
    return kCommandDone;
}

int main(int argc, char **argv)
{
    bool tableMade = CreateSessionTable();
    InitializeServiceState();
    if (argc == 1) {
        if (tableMade) RunServiceEntry();
        return 0;
    }
    return RunCommand(ParseServiceCommandLine(argc, argv), tableMade);
}
