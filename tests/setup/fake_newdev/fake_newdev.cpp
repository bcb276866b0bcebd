// A stand-in newdev.dll for tests: placed in the prefix's system folder and chosen with
// WINEDLLOVERRIDES=newdev=n, it answers the driver update as ZYN_FAKE_NEWDEV says, because Wine's own
// reports success and no restart whatever happens:
//   fail=<error>   FALSE with that last error, nothing installed
//   reboot         TRUE and a restart requested, nothing installed
//   then-<answer>  TRUE on the process's first call (nothing installed, no restart), then as <answer>
// (unset: FALSE with ERROR_CALL_NOT_IMPLEMENTED). When ZYN_FAKE_NEWDEV_LOG names a file, the load
// and every call with its arguments are appended to it, one line each.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void Record(const char *line)
{
    char path[MAX_PATH];
    if (!GetEnvironmentVariableA("ZYN_FAKE_NEWDEV_LOG", path, sizeof(path))) return;
    FILE *log = fopen(path, "ab");
    if (log == nullptr) return;
    fprintf(log, "%s\n", line);
    fclose(log);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void *)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH] = "";
    GetModuleFileNameA(instance, path, sizeof(path));
    char line[MAX_PATH + 8];
    snprintf(line, sizeof(line), "load %s", path);
    Record(line);
    return TRUE;
}

extern "C" BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND window, const char *hardwareId, const char *infPath,
                                                         DWORD installFlags, BOOL *rebootRequired)
{
    char line[1024];
    snprintf(line, sizeof(line), "call id=%s inf=%s flags=%lu window=%s reboot=%s", hardwareId ? hardwareId : "(null)",
             infPath ? infPath : "(null)", installFlags, window ? "set" : "none", rebootRequired ? "given" : "none");
    Record(line);
    char behaviour[64] = "";
    GetEnvironmentVariableA("ZYN_FAKE_NEWDEV", behaviour, sizeof(behaviour));
    static int calls = 0;
    const char *answer = behaviour;
    if (strncmp(behaviour, "then-", 5) == 0) {
        if (++calls == 1) {
            SetLastError(ERROR_SUCCESS);
            return TRUE;
        }
        answer = behaviour + 5;
    }
    if (strcmp(answer, "reboot") == 0) {
        if (rebootRequired) *rebootRequired = TRUE;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    if (strncmp(answer, "fail=", 5) == 0) {
        SetLastError(static_cast<DWORD>(strtoul(answer + 5, nullptr, 0)));
        return FALSE;
    }
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
