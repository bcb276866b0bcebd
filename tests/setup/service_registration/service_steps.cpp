// The service registration's operations behind a small command line, so that the scenario scripts
// run them in a clean prefix and a real terminal. The exit code is the operation's result.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "service_registration.h"

static int Usage()
{
    fprintf(stderr, "service_steps register MODE PATH | remove MODE | ask-autoreboot\n");
    return 64;
}

int main(int argc, char **argv)
{
    if (argc < 2) return Usage();
    const char *command = argv[1];
    BYTE mode = argc > 2 ? static_cast<BYTE>(strtoul(argv[2], nullptr, 0)) : 0;
    if (strcmp(command, "register") == 0 && argc == 4) return RegisterService(mode, argv[3]);
    if (strcmp(command, "remove") == 0 && argc == 3) return RemoveService(mode);
    if (strcmp(command, "ask-autoreboot") == 0 && argc == 2) return AskAutoReboot(), 0;
    return Usage();
}
