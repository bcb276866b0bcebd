// Prints the fixed version fields of each file as GetFileVersionInfoA reads them.
#include <windows.h>

#include <cstdio>
#include <vector>

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

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) PrintVersion(argv[i]);
    return 0;
}
