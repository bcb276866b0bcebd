// Prints the fixed version fields of each file as GetFileVersionInfoA reads them; with -manifest,
// how many manifest resources each file carries and the text of the one the loader reads.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "guards.h"

static void PrintVersion(const char *path)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    std::vector<BYTE> block(size ? size : 1);
    VS_FIXEDFILEINFO *info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoA(path, 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&info), &length) || length < sizeof(*info)) {
        printf("%s none error=%lu\n", path, GetLastError());
        return;
    }
    printf("%s file=%lu.%lu.%lu.%lu product=%lu.%lu.%lu.%lu\n", path, HIWORD(info->dwFileVersionMS),
           LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS),
           HIWORD(info->dwProductVersionMS), LOWORD(info->dwProductVersionMS), HIWORD(info->dwProductVersionLS),
           LOWORD(info->dwProductVersionLS));
}

static BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count)
{
    ++*reinterpret_cast<int *>(count);
    return TRUE;
}

static BOOL CALLBACK CountManifest(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR count)
{
    EnumResourceLanguagesA(module, type, name, CountLanguage, count);
    return TRUE;
}

static void PrintManifest(const char *path)
{
    UniqueModule module(LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module.Valid()) {
        printf("%s manifests=none error=%lu\n", path, GetLastError());
        return;
    }
    int count = 0;
    EnumResourceNamesA(module.Get(), RT_MANIFEST, CountManifest, reinterpret_cast<LONG_PTR>(&count));
    printf("%s manifests=%d\n", path, count);
    HRSRC resource = FindResourceA(module.Get(), CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    HGLOBAL text = resource ? LoadResource(module.Get(), resource) : nullptr;
    if (text) fwrite(LockResource(text), 1, SizeofResource(module.Get(), resource), stdout);
    printf("\n");
}

int main(int argc, char **argv)
{
    bool manifests = argc > 1 && strcmp(argv[1], "-manifest") == 0;
    for (int i = manifests ? 2 : 1; i < argc; ++i) manifests ? PrintManifest(argv[i]) : PrintVersion(argv[i]);
    return 0;
}
