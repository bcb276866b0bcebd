#include <windows.h>

#include "installation_flow.h"

typedef BOOL(WINAPI *SetDefaultDllDirectoriesEntry)(DWORD);

// Often started from a download folder: no DLL is ever loaded from the program's own folder.
// Looked up at run time, since Windows 7 and Server 2008 R2 without the loader update lack it and
// an import would keep setup from starting at all.
static void RestrictDllSearchToSystemFolder()
{
    FARPROC address = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (address == nullptr) return;
    reinterpret_cast<SetDefaultDllDirectoriesEntry>(reinterpret_cast<void (*)()>(address))(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int main(int argc, char **argv)
{
    RestrictDllSearchToSystemFolder();
    return RunInstaller(argc, argv);
}
