#pragma once
// Replaces one imported function of the test program for the life of the object, so a test can
// make a system call fail, or watch it, where the system under Wine cannot be made to.
#include <windows.h>

#include <cstring>

class ImportHook {
public:
    ImportHook(const char *dll, const char *function, void *replacement)
        : ImportHook(GetModuleHandleA(nullptr), dll, function, replacement)
    {
    }
    // The same in the imports of another loaded module, such as the library under test.
    ImportHook(HMODULE module, const char *dll, const char *function, void *replacement)
    {
        if (module != nullptr) slot_ = FindSlot(module, dll, function);
        if (slot_ == nullptr) return;
        original_ = reinterpret_cast<void *>(*slot_);
        Write(reinterpret_cast<ULONG_PTR>(replacement));
    }
    ~ImportHook()
    {
        if (slot_ != nullptr) Write(reinterpret_cast<ULONG_PTR>(original_));
    }
    ImportHook(const ImportHook &) = delete;
    ImportHook &operator=(const ImportHook &) = delete;

    bool Installed() const { return slot_ != nullptr; }
    void *Original() const { return original_; }

private:
    static ULONG_PTR *FindSlot(HMODULE module, const char *dll, const char *function)
    {
        BYTE *base = reinterpret_cast<BYTE *>(module);
        auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
        auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (imports.VirtualAddress == 0) return nullptr;
        for (auto *entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); entry->Name;
             ++entry) {
            if (_stricmp(reinterpret_cast<char *>(base + entry->Name), dll) != 0) continue;
            auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->OriginalFirstThunk);
            auto *addresses = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
                if (strcmp(reinterpret_cast<char *>(byName->Name), function) == 0) {
                    return reinterpret_cast<ULONG_PTR *>(&addresses->u1.Function);
                }
            }
        }
        return nullptr;
    }

    void Write(ULONG_PTR value)
    {
        DWORD protection;
        VirtualProtect(slot_, sizeof(*slot_), PAGE_READWRITE, &protection);
        *slot_ = value;
        VirtualProtect(slot_, sizeof(*slot_), protection, &protection);
    }

    ULONG_PTR *slot_ = nullptr;
    void *original_ = nullptr;
};
