#include "file_deployment.h"

#include "console.h"
#include "setup_codes.h"
#include "setup_paths.h"

void ClearReadOnly(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool FileExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The answer to a yes/no question: asked in interactive mode, yes otherwise. Any key but y or Y is no.
static bool AnswerYes(BYTE mode, const char *question)
{
    if (!IsInteractive(mode)) return true;
    ConsolePrint("%s", question);
    int key = ReadKey();
    ConsoleLine("");
    return KeyIs(key, 'y');
}

// Copies the packaged 32-bit library over the installed one; 0, or 2 after the failure message.
static int CopyLibrary32(BYTE mode, const char *successFormat)
{
    const char *target = g_setupPaths.installedLibrary32;
    if (!CopyFileA(g_setupPaths.packagedLibrary32, target, FALSE)) {
        if (!IsSilent(mode)) ConsolePrint("Faile: Unable to copy 32bit library %s!\n", target);
        return kExitFailed;
    }
    if (!IsSilent(mode)) ConsolePrint(successFormat, target);
    return 0;
}

int InstallLibrary32(BYTE mode)
{
    const char *target = g_setupPaths.installedLibrary32;
    if (!FileExists(target)) return CopyLibrary32(mode, "Install 32bit library %s successfully!\n");
    ClearReadOnly(target);
    if (!AnswerYes(mode, "The 32bit library zynvx7w.dll exist, overwrite[y/n]?")) return 0;
    return CopyLibrary32(mode, "Update 32bit library %s successfully!\n");
}

int RemoveLibrary32(BYTE mode)
{
    const char *target = g_setupPaths.installedLibrary32;
    if (!FileExists(target)) return 0;
    ClearReadOnly(target);
    if (!AnswerYes(mode, "The 32bit library zynvx7w.dll exist, remove it[y/n]?")) return 0;
    if (!DeleteFileA(target)) {
        if (!IsSilent(mode)) ConsolePrint("Faile: Unable to remove 32bit library %s!\n", target);
        return kExitFailed;
    }
    if (!IsSilent(mode)) ConsolePrint("Remove 32bit library %s successfully!\n", target);
    return 0;
}
