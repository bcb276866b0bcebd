#pragma once
// Read-only handling and the 32-bit library's copy and removal.
#include <windows.h>

void ClearReadOnly(const char *path);
bool FileExists(const char *path);
// 0 copied or left as it was, 2 the copy failed.
int InstallLibrary32(BYTE mode);
// 0 deleted, absent or kept by the user, 2 the deletion failed.
int RemoveLibrary32(BYTE mode);
