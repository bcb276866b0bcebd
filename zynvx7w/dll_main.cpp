// The library builds its session table while it loads and frees it while it unloads.
#include <windows.h>

#include "../transport/request_block.h"
#include "../transport/session_table.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        // Without the slot array no export could work: refuse to load.
        return CreateSessionTable() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        // At process exit (reserved != NULL) other threads are gone; the heap goes with the process.
        if (reserved == nullptr) {
            DestroySessionTable();
            // Blocks of requests still pending stay: their driver may yet complete into them.
            FreeRequestBlocks();
        }
        return TRUE;
    default:
        return TRUE;
    }
}
