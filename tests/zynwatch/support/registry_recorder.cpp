#include "registry_recorder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

typedef LONG(WINAPI *OpenKeyFunction)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
typedef LONG(WINAPI *QueryValueFunction)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
typedef LONG(WINAPI *SetValueFunction)(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD);
typedef LONG(WINAPI *CloseKeyFunction)(HKEY);

static std::vector<std::string> g_calls;
static bool g_recording;
static OpenKeyFunction g_openKey;
static QueryValueFunction g_queryValue;
static SetValueFunction g_setValue;
static CloseKeyFunction g_closeKey;

static void Record(const std::string &call)
{
    if (g_recording) g_calls.push_back(call);
}

static LONG WINAPI RecordOpenKey(HKEY root, LPCSTR subkey, DWORD options, REGSAM access, PHKEY key)
{
    char line[64];
    snprintf(line, sizeof(line), "open 0x%lX", static_cast<unsigned long>(access));
    Record(line);
    return g_openKey(root, subkey, options, access, key);
}

static LONG WINAPI RecordQueryValue(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                    LPDWORD size)
{
    char line[128];
    snprintf(line, sizeof(line), "query %s size=%lu", name, size ? static_cast<unsigned long>(*size) : 0ul);
    Record(line);
    return g_queryValue(key, name, reserved, type, data, size);
}

static LONG WINAPI RecordSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size)
{
    char line[128];
    if (type == REG_DWORD && size == 4) {
        DWORD value;
        memcpy(&value, data, 4);
        snprintf(line, sizeof(line), "set %s type=4 size=4 dword=%lu", name, static_cast<unsigned long>(value));
    } else {
        snprintf(line, sizeof(line), "set %s type=%lu size=%lu", name, static_cast<unsigned long>(type),
                 static_cast<unsigned long>(size));
    }
    Record(line);
    return g_setValue(key, name, reserved, type, data, size);
}

static LONG WINAPI RecordCloseKey(HKEY key)
{
    Record("close");
    return g_closeKey(key);
}

// The import slot of function from dll in this program, or null.
static void **FindImportSlot(const char *dll, const char *function)
{
    BYTE *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    IMAGE_NT_HEADERS *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    IMAGE_IMPORT_DESCRIPTOR *import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + directory.VirtualAddress);
    for (; import->Name != 0; ++import) {
        if (_stricmp(reinterpret_cast<char *>(base + import->Name), dll) != 0) continue;
        IMAGE_THUNK_DATA *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            IMAGE_IMPORT_BY_NAME *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char *>(byName->Name), function) == 0) {
                return reinterpret_cast<void **>(&slots->u1.Function);
            }
        }
    }
    return nullptr;
}

template <typename Function>
static bool Replace(const char *name, Function replacement, Function *original)
{
    void **slot = FindImportSlot("advapi32.dll", name);
    if (slot == nullptr) return false;
    DWORD protection;
    if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection)) return false;
    if (*original == nullptr) *original = reinterpret_cast<Function>(*slot);
    *slot = reinterpret_cast<void *>(replacement);
    VirtualProtect(slot, sizeof(*slot), protection, &protection);
    return true;
}

RegistryRecorder::RegistryRecorder()
{
    installed_ = Replace("RegOpenKeyExA", RecordOpenKey, &g_openKey) &&
                 Replace("RegQueryValueExA", RecordQueryValue, &g_queryValue) &&
                 Replace("RegSetValueExA", RecordSetValue, &g_setValue) &&
                 Replace("RegCloseKey", RecordCloseKey, &g_closeKey);
    g_calls.clear();
    g_recording = installed_;
}

RegistryRecorder::~RegistryRecorder()
{
    g_recording = false;
}

// A recorder that is not installed sees no call at all; "nothing was written" must not pass on that.
std::vector<std::string> RegistryRecorder::Calls() const
{
    if (!installed_) ADD_FAILURE() << "the registry calls were not recorded: the import slots were not replaced";
    return g_calls;
}

std::vector<std::string> RegistryRecorder::Sets() const
{
    std::vector<std::string> sets;
    for (const std::string &call : Calls()) {
        if (call.compare(0, 4, "set ") == 0) sets.push_back(call);
    }
    return sets;
}
