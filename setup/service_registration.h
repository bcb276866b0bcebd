#pragma once
// Registering and removing the auto server restart service, and the AutoReboot question.
#include <windows.h>

// 0 created and every value written, 1 otherwise.
int RegisterService(BYTE mode, const char *path);
int WriteServiceDescription();
// 1 when the manager or the service could not be opened, 0 otherwise.
int RemoveService(BYTE mode);
void AskAutoReboot();
int SetAutoReboot(bool enable);
