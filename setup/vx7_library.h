#pragma once
// The installed library bound at run time, as the installer uses it: loaded afresh for each use,
// so a library copied in between is the one used, and freed again on every path.
#include <windows.h>

#include "../common/guards.h"
#include "../zynvx7w/include/zynvx7w.h"

// The four exports the installer binds; valid only while the library stays loaded.
struct Vx7Entries {
    decltype(&OpenVX7Driver) openDriver;
    decltype(&SendVX7Request) sendRequest;
    decltype(&CloseVX7Driver) closeDriver;
    decltype(&GetVX7Version) getVersion;
};

// Loads the library at path into *library and binds its exports. 16 when it cannot be loaded,
// 2 when an export is missing, 0 when bound.
int LoadVx7Library(const char *path, UniqueModule *library, Vx7Entries *vx7);
