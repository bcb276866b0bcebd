#pragma once
// The installer's main sequence, from the parsed command line to the exit code.

// The whole program after start: paths, options, the action, service step, closing lines.
int RunInstaller(int argc, char **argv);

// Usage, detection, installation or uninstallation by the option word: 0, 1, 2, 8 or 16.
int RunSetup();
