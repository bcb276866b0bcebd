#pragma once
// The installer's option word from its command-line words; byte-level, builds without windows.h.
#include <stdint.h>

// Bits of the option word; setup_codes.h names them for the rest of the installer.
const uint32_t kOptionInstall = 0x01;
const uint32_t kOptionQuiet = 0x02;
const uint32_t kOptionSilent = 0x04;
const uint32_t kOptionUninstall = 0x08;
const uint32_t kOptionDetect = 0x10;
const uint32_t kOptionUsage = 0x80;

// argv[0] is the program; argv[1] to argv[argc - 1] are "-q", "-n", "-u" or "-h" in any letter case.
// An unknown word asks for the usage screen and ends the scan; so does a repeated one, or -u with -h.
uint32_t ParseOptionWords(int argc, const char *const *argv);
