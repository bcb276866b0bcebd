#pragma once
// Installing and removing the service with the Service Control Manager; every outcome is a
// printed message, and the result tells whether the command did what was asked.
#include "command_line.h"

// Creates the service for this program, stores its configuration with the options' choices
// and stops the watchdog; true when the service was created.
bool InstallService(const CommandOptions &options);

// Stops the service if it runs, printing a dot per poll; when that stop may have left the BMC's
// watchdog running, stops the watchdog itself, and keeps the service if it cannot. Then deletes
// it; true when it was deleted.
bool UninstallService();
