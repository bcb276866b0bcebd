#pragma once
// The program's own command line: options, their words, and the usage text. Plain logic without
// Win32 calls, so it also builds and is tested natively.
#include <stdint.h>

struct CommandOptions {
    bool install;
    bool remove;
    bool status;
    bool json;                 // -status prints one JSON object instead of lines
    uint8_t timeoutChoice;     // "TimeoutAction" the install stores
    uint8_t pretimeoutChoice;  // "PretimeoutAction" the install stores
    bool nagios;                 // -status prints one line for a monitoring plugin
    const char *prometheusFile;  // -status also writes the Prometheus metrics here; null: not
};

// Options from the second argument on; option words and their values in any letter case.
CommandOptions ParseServiceCommandLine(int argc, const char *const *argv);

void PrintUsage();
