#pragma once
// Registering and removing the auto server restart service, and the AutoReboot question.
#include <windows.h>

// 0 created and every value written, 1 otherwise.
int RegisterService(BYTE mode, const char *path);
int WriteServiceDescription();
// Result of RemoveService when the service stayed because the BMC's watchdog may still run.
const int kRemoveServiceKept = 2;
// 1 when the manager or the service could not be opened, 2 when the stop it made may have left the
// watchdog running and the installer could not stop it either (the service and its event source
// are kept), 0 otherwise.
int RemoveService(BYTE mode);
void AskAutoReboot();
int SetAutoReboot(bool enable);
