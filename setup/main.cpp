#include <windows.h>

#include "installation_flow.h"

int main(int argc, char **argv)
{
    // Often started from a download folder: no DLL is ever loaded from the program's own folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return RunInstaller(argc, argv);
}
