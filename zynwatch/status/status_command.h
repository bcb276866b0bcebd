#pragma once
// "zynwatch -status": reads the SCM, the configuration, the BMC's watchdog and its log, prints the
// report. Writes nothing but the metrics file it is given, and sends the BMC only Get Watchdog Timer,
// Get SEL Info and Get SEL Entry.

// Prints the report to standard output, as lines or as one JSON object on one line; gives its
// exit code (0 protected, 1 not, 2 BMC unread, 3 the BMC will act: heartbeats missing or withheld).
int PrintServiceStatus(bool json);

// The forms of the report: lines, one JSON object, or one line for a monitoring plugin (whose exit
// code is then 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN); and, besides, the Prometheus metrics file.
struct StatusOutput {
    bool json;
    bool nagios;                 // wins over json
    const char *prometheusFile;  // null: no metrics file
};

// The metrics file could not be written: said on standard error, and the exit code (or UNKNOWN
// for a plugin).
const int kStatusMetricsNotWritten = 4;

// Prints the report in its form and writes the metrics file when one is named: a temporary file
// in the same folder, then renamed over it, so the collector never reads half a file. Gives the
// exit code.
int RunStatusCommand(const StatusOutput &output);
