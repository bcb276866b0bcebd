#define _CRT_RAND_S
#include "health/health_checks.h"

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "guards.h"
#include "service_identity.h"

const int kProbeNameTries = 3;
const SIZE_T kProbeStackSize = 64 * 1024;
const char kProbeContent[] = "ZynAsrService health probe\r\n";

static HealthResult Passed()
{
    return {true, {kCauseNone, 0, 0}};
}

static HealthResult Failed(uint8_t kind, uint32_t value, uint32_t limit = 0)
{
    return {false, {kind, value, limit}};
}

static DWORD LimitMilliseconds(uint32_t seconds)
{
    return seconds * 1000u;  // at most 3600 s
}

static bool KillTreeOnClose(HANDLE job)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) != FALSE;
}

// A command that ended in time leaves the programs it started to run: the job no longer ends them
// as its handle closes.
static void LetJobGo(HANDLE job)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
}

// Room for a list of one attribute, whatever Windows' layout of it.
const size_t kAttributeListSize = 128;

// The standard handles' one handle is the only one the command inherits: no key, file or event the
// service holds reaches a program that runs as LocalSystem on the administrator's say.
static bool InheritOnly(HANDLE *nul, void *storage, UniqueAttributeList *list)
{
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    if (size > kAttributeListSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    auto *attributes = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage);
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
    list->Reset(attributes);
    return UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, nul, sizeof(*nul), nullptr,
                                     nullptr) != FALSE;
}

// The process starts suspended and runs only once it is in the job, so none of its children escapes.
static bool StartInJob(const char *commandLine, HANDLE nul, HANDLE job, UniqueHandle *process)
{
    char line[kHealthCommandSize];
    snprintf(line, sizeof(line), "%s", commandLine);  // CreateProcessA may write into its command line
    alignas(16) BYTE storage[kAttributeListSize];
    UniqueAttributeList list;
    HANDLE inherited = nul;
    if (!InheritOnly(&inherited, storage, &list)) return false;
    STARTUPINFOEXA startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = startup.StartupInfo.hStdOutput = startup.StartupInfo.hStdError = nul;
    startup.lpAttributeList = list.Get();
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                        &startup.StartupInfo, &started)) {
        return false;
    }
    process->Reset(started.hProcess);
    UniqueHandle thread(started.hThread);
    if (AssignProcessToJobObject(job, process->Get()) && ResumeThread(thread.Get()) != static_cast<DWORD>(-1)) return true;
    DWORD error = GetLastError();
    TerminateProcess(process->Get(), error);
    SetLastError(error);
    return false;
}

// Runs the command in a job and waits up to the limit or the stop. Its whole tree ends with it,
// except, with leaveStarted, the programs a command that ended in time started.
static HealthResult RunCommand(const char *commandLine, uint32_t timeoutSeconds, HANDLE stopEvent, bool leaveStarted)
{
    UniqueHandle job(CreateJobObjectA(nullptr, nullptr));
    if (!job.Valid() || !KillTreeOnClose(job.Get())) return Failed(kCauseError, GetLastError());
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    UniqueFileHandle nul(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!nul.Valid()) return Failed(kCauseError, GetLastError());
    UniqueHandle process;
    if (!StartInJob(commandLine, nul.Get(), job.Get(), &process)) return Failed(kCauseError, GetLastError());
    HANDLE waits[2] = {process.Get(), stopEvent};
    DWORD waited = WaitForMultipleObjects(2, waits, FALSE, LimitMilliseconds(timeoutSeconds));
    DWORD error = waited == WAIT_FAILED ? GetLastError() : ERROR_SUCCESS;
    DWORD exitCode = 0;
    bool ended = waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.Get(), &exitCode);
    if (ended && leaveStarted) {
        LetJobGo(job.Get());
    } else {
        TerminateJobObject(job.Get(), ERROR_TIMEOUT);  // the command's tree, whether it ended or not
    }
    if (error != ERROR_SUCCESS) return Failed(kCauseError, error);
    if (!ended) return Failed(kCauseNoAnswer, timeoutSeconds);
    return exitCode == 0 ? Passed() : Failed(kCauseExitCode, exitCode);
}

HealthResult RunHealthCommand(const char *commandLine, uint32_t timeoutSeconds, HANDLE stopEvent)
{
    return RunCommand(commandLine, timeoutSeconds, stopEvent, false);
}

HealthResult RunRepairCommand(const char *commandLine, uint32_t timeoutSeconds, HANDLE stopEvent)
{
    return RunCommand(commandLine, timeoutSeconds, stopEvent, true);
}

struct FolderProbe {
    LONG references;  // the waiting caller's and the worker's
    HANDLE done;      // set by the worker as it ends
    DWORD error;      // the probe's outcome, valid once done is set
    char folder[kHealthFolderSize];
};

static void ReleaseProbe(FolderProbe *probe)
{
    if (InterlockedDecrement(&probe->references) != 0) return;
    CloseHandle(probe->done);
    HeapFree(GetProcessHeap(), 0, probe);
}

// The service's name with a fresh random suffix, so a file planted in the folder cannot be the
// next probe's name.
static bool ProbePath(const char *folder, char path[MAX_PATH])
{
    unsigned int high = 0, low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) {
        high = GetTickCount();
        low = GetCurrentThreadId() ^ static_cast<unsigned int>(reinterpret_cast<uintptr_t>(&high));
    }
    size_t length = strlen(folder);
    const char *separator = length != 0 && (folder[length - 1] == '\\' || folder[length - 1] == '/') ? "" : "\\";
    int written = snprintf(path, MAX_PATH, "%s%s%s-%08X%08X.probe", folder, separator, kServiceName, high, low);
    return written > 0 && written < MAX_PATH;
}

// CREATE_NEW never opens an existing file, nor one through a link planted under the name; a
// name that exists is passed over for a fresh one.
static DWORD CreateProbeFile(const char *folder, UniqueFileHandle *file)
{
    for (int attempt = 0; attempt < kProbeNameTries; ++attempt) {
        char path[MAX_PATH];
        if (!ProbePath(folder, path)) return ERROR_FILENAME_EXCED_RANGE;
        file->Reset(CreateFileA(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
        if (file->Valid()) return ERROR_SUCCESS;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error;
    }
    return ERROR_FILE_EXISTS;
}

// Written, flushed to the disk and deleted through the handle that created it; the first error.
static DWORD WriteProbeFile(const char *folder)
{
    UniqueFileHandle file;
    DWORD error = CreateProbeFile(folder, &file);
    if (error != ERROR_SUCCESS) return error;
    DWORD written = 0;
    if (!WriteFile(file.Get(), kProbeContent, sizeof(kProbeContent) - 1, &written, nullptr)) {
        error = GetLastError();
    } else if (written != sizeof(kProbeContent) - 1) {
        error = ERROR_WRITE_FAULT;
    } else if (!FlushFileBuffers(file.Get())) {
        error = GetLastError();
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof(disposition)) &&
        error == ERROR_SUCCESS) {
        error = GetLastError();
    }
    if (!file.Close() && error == ERROR_SUCCESS) error = GetLastError();
    return error;
}

static DWORD WINAPI RunFolderProbe(void *context)
{
    FolderProbe *probe = static_cast<FolderProbe *>(context);
    probe->error = WriteProbeFile(probe->folder);
    SetEvent(probe->done);
    ReleaseProbe(probe);
    return 0;
}

// A worker for one probe, or nullptr with the last error set.
static FolderProbe *StartFolderProbe(const char *folder)
{
    FolderProbe *probe = static_cast<FolderProbe *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(FolderProbe)));
    if (probe == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    probe->references = 2;
    snprintf(probe->folder, sizeof(probe->folder), "%s", folder);
    probe->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE worker = nullptr;
    if (probe->done != nullptr) {
        worker = CreateThread(nullptr, kProbeStackSize, RunFolderProbe, probe, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    }
    if (worker != nullptr) {
        CloseHandle(worker);
        return probe;
    }
    DWORD error = GetLastError();
    if (probe->done != nullptr) CloseHandle(probe->done);
    HeapFree(GetProcessHeap(), 0, probe);
    SetLastError(error);
    return nullptr;
}

HealthResult ProbeHealthFolder(FolderProbe **stuck, const char *folder, uint32_t timeoutSeconds, HANDLE stopEvent)
{
    if (*stuck != nullptr) {
        if (WaitForSingleObject((*stuck)->done, 0) != WAIT_OBJECT_0) return Failed(kCauseNoAnswer, timeoutSeconds);
        AbandonFolderProbe(stuck);
    }
    FolderProbe *probe = StartFolderProbe(folder);
    if (probe == nullptr) return Failed(kCauseError, GetLastError());
    HANDLE waits[2] = {probe->done, stopEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, LimitMilliseconds(timeoutSeconds)) != WAIT_OBJECT_0) {
        *stuck = probe;
        return Failed(kCauseNoAnswer, timeoutSeconds);
    }
    DWORD error = probe->error;
    ReleaseProbe(probe);
    return error == ERROR_SUCCESS ? Passed() : Failed(kCauseError, error);
}

void AbandonFolderProbe(FolderProbe **stuck)
{
    if (*stuck == nullptr) return;
    ReleaseProbe(*stuck);
    *stuck = nullptr;
}

HealthResult CheckHealthService(const char *name)
{
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Valid()) return Failed(kCauseError, GetLastError());
    UniqueServiceHandle service(OpenServiceA(manager.Get(), name, SERVICE_QUERY_STATUS));
    if (!service.Valid()) {
        DWORD error = GetLastError();
        return Failed(error == ERROR_SERVICE_DOES_NOT_EXIST ? kCauseServiceMissing : kCauseError, error);
    }
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.Get(), &status)) return Failed(kCauseError, GetLastError());
    return status.dwCurrentState == SERVICE_RUNNING ? Passed() : Failed(kCauseServiceState, status.dwCurrentState);
}

HealthResult CheckAvailableCommit(uint32_t minimumMB)
{
    PERFORMANCE_INFORMATION performance = {};
    performance.cb = sizeof(performance);
    if (!GetPerformanceInfo(&performance, sizeof(performance))) return Failed(kCauseError, GetLastError());
    uint64_t pages = performance.CommitLimit > performance.CommitTotal ? performance.CommitLimit - performance.CommitTotal : 0;
    uint64_t availableMB = pages * performance.PageSize / (1024 * 1024);
    if (availableMB >= minimumMB) return Passed();
    return Failed(kCauseMemory, static_cast<uint32_t>(availableMB), minimumMB);
}
