#pragma once
// The program's own command line: options, their words, and the usage text. Plain logic without
// Win32 calls, so it also builds and is tested natively.
#include <stdint.h>

struct CommandOptions {
    bool install;
    bool remove;
    bool status;
    bool json;                   // -status or -drill prints one JSON object instead of lines
    uint8_t timeoutChoice;       // "TimeoutAction" the install stores
    uint8_t pretimeoutChoice;    // "PretimeoutAction" the install stores
    bool nagios;                 // -status prints one line for a monitoring plugin
    const char *prometheusFile;  // -status also writes the Prometheus metrics here; null: not
    bool drill;
    uint32_t drillSeconds;       // the drill's countdown as given, 20 when none is; never more than 999999
};

// Options from the second argument on; option words and their values in any letter case. A number
// right after -drill is its countdown.
CommandOptions ParseServiceCommandLine(int argc, const char *const *argv);

void PrintUsage();
