#pragma once
// "zynwatch -status": reads the SCM, the configuration, the BMC's watchdog and its log, prints the
// report. Writes nothing and sends the BMC only Get Watchdog Timer, Get SEL Info and Get SEL Entry.

// Prints the report to standard output, as lines or as one JSON object on one line; gives its
// exit code (0 protected, 1 not, 2 BMC unread, 3 the BMC will act: heartbeats missing or withheld).
int PrintServiceStatus(bool json);
