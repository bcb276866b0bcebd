#pragma once
// Installing and removing the service with the Service Control Manager; every outcome is a
// printed message.
#include "command_line.h"

// Creates the service for this program, stores its configuration with the options' choices
// and stops the watchdog.
void InstallService(const CommandOptions &options);

// Stops the service if it runs, printing a dot per poll, then deletes it.
void UninstallService();
