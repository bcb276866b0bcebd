#pragma once
// Taking the driver off the machine: device nodes of "*ZYN7310", its registry keys and files.
#include <windows.h>

// 0 a matching node was found and its removal attempted, 1 none found, -1 no device set.
int RemoveDriver();
// 0 for an empty name (nothing done), otherwise 1 whatever could be deleted.
int DeleteRegistryTree(HKEY parent, const char *subkey);
// 2 when RemoveDriver gave -1 or 1; otherwise 0, or -1 when the library could not be deleted.
int UninstallDriver(BYTE mode);
