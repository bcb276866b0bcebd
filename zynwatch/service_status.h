#pragma once
// "zynwatch -status": reads the SCM, the configuration and the BMC's watchdog, prints the report.
// Writes nothing and sends the BMC only Get Watchdog Timer.

// Prints the report to standard output; gives its exit code (0 protected, 1 not, 2 BMC
// unread, 3 heartbeats withheld).
int PrintServiceStatus();
