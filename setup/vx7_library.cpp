#include "vx7_library.h"

#include "setup_codes.h"

template <typename Entry>
static bool BindEntry(HMODULE library, const char *name, Entry *entry)
{
    FARPROC address = GetProcAddress(library, name);
    *entry = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

static bool BindEntries(HMODULE library, Vx7Entries *vx7)
{
    return BindEntry(library, "OpenVX7Driver", &vx7->openDriver) &&
           BindEntry(library, "SendVX7Request", &vx7->sendRequest) &&
           BindEntry(library, "CloseVX7Driver", &vx7->closeDriver) &&
           BindEntry(library, "GetVX7Version", &vx7->getVersion);
}

int LoadVx7Library(const char *path, UniqueModule *library, Vx7Entries *vx7)
{
    library->Reset(LoadLibraryA(path));
    if (!library->Valid()) return kExitHardwareOnly;
    return BindEntries(library->Get(), vx7) ? kExitInstalled : kExitFailed;
}
