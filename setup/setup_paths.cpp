#include "setup_paths.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <string.h>

#include "console.h"

SetupPaths g_setupPaths;

// directory joined with the components; left empty when the directory is unknown, so that a
// later copy or deletion fails instead of acting on a path relative to the current directory.
static void JoinInstalledPath(char *path, const char *directory, const char *first, const char *second = nullptr)
{
    path[0] = '\0';
    if (directory[0] == '\0') return;
    strcpy(path, directory);
    if (!PathAppendA(path, first) || (second != nullptr && !PathAppendA(path, second))) path[0] = '\0';
}

// The running program's directory with its final backslash; empty when the module path cannot be
// obtained whole.
static void ReadSetupDirectory(char *directory)
{
    char modulePath[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
    directory[0] = '\0';
    if (length == 0 || length >= MAX_PATH) {
        DiagnosticLine("GetModuleFileName failed\n");
        return;
    }
    char *lastBackslash = strrchr(modulePath, '\\');
    if (lastBackslash == nullptr) return;
    lastBackslash[1] = '\0';
    strcpy(directory, modulePath);
}

void JoinPackagedPath(char *path, const char *packagedName)
{
    char directory[MAX_PATH];
    ReadSetupDirectory(directory);
    size_t directoryLength = strlen(directory);
    size_t nameLength = strlen(packagedName);
    path[0] = '\0';
    if (directoryLength == 0 || directoryLength + nameLength >= MAX_PATH) return;
    memcpy(path, directory, directoryLength);
    memcpy(path + directoryLength, packagedName, nameLength + 1);
}

void InitPaths()
{
    SetupPaths &paths = g_setupPaths;
    memset(&paths, 0, sizeof(paths));
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_WINDOWS, nullptr, SHGFP_TYPE_CURRENT, paths.windowsDir))) {
        paths.windowsDir[0] = '\0';
    }
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_SYSTEM, nullptr, SHGFP_TYPE_CURRENT, paths.systemDir))) {
        paths.systemDir[0] = '\0';
    }
    JoinInstalledPath(paths.installedDriver, paths.systemDir, "drivers", "imbdrv.sys");
    JoinInstalledPath(paths.installedLibrary, paths.systemDir, "zynvx7w.dll");
    JoinInstalledPath(paths.installedService, paths.systemDir, "zynwatch.exe");
    JoinInstalledPath(paths.installedLibrary32, paths.windowsDir, "SysWOW64", "zynvx7w.dll");
    JoinPackagedPath(paths.packagedLibrary, "windows\\zynvx7w.dll");
    JoinPackagedPath(paths.packagedService, "windows\\zynwatch.exe");
    JoinPackagedPath(paths.packagedLibrary32, "windows\\SysWOW64\\zynvx7w.dll");
}

bool PackagedPathsKnown()
{
    const SetupPaths &paths = g_setupPaths;
    return paths.packagedLibrary[0] != '\0' && paths.packagedService[0] != '\0' && paths.packagedLibrary32[0] != '\0';
}
