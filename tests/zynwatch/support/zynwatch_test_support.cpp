#include "zynwatch_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "guards.h"
#include "service_identity.h"

const char kDriverKey[] = "System\\CurrentControlSet\\Services\\imbsim";

bool SetSimulatedDriverDefault(const char *name, long long value)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
    LONG error;
    if (value < 0) {
        error = RegDeleteValueA(key, name);
        if (error == ERROR_FILE_NOT_FOUND) error = ERROR_SUCCESS;
    } else {
        DWORD data = static_cast<DWORD>(value);
        error = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&data), sizeof(data));
    }
    RegCloseKey(key);
    return error == ERROR_SUCCESS;
}

bool QueryServiceState(SC_HANDLE service, SERVICE_STATUS_PROCESS *status)
{
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(status),
                                sizeof(*status), &needed) != FALSE;
}

bool WaitForServiceState(SC_HANDLE service, DWORD state, DWORD limitMs)
{
    DWORD start = GetTickCount();
    SERVICE_STATUS_PROCESS status = {};
    while (GetTickCount() - start < limitMs) {
        if (QueryServiceState(service, &status) && status.dwCurrentState == state) return true;
        Sleep(10);
    }
    return false;
}

// Only "not found" counts as gone: a key that cannot be opened for another reason is still there.
static bool KeyExists(const char *name)
{
    std::string path = std::string("System\\CurrentControlSet\\Services\\") + name;
    HKEY key;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    if (error == ERROR_FILE_NOT_FOUND) return false;
    if (error == ERROR_SUCCESS) RegCloseKey(key);
    return true;
}

bool RemoveServiceIfPresent(const char *name)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    bool removed = service != nullptr || GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    if (service != nullptr) {
        SERVICE_STATUS status = {};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        removed = WaitForServiceState(service, SERVICE_STOPPED, 20000);
        removed = DeleteService(service) && removed;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    // The SCM deletes the key once the last handle is closed.
    for (int i = 0; i < 200 && KeyExists(name); ++i) Sleep(10);
    return removed && !KeyExists(name);
}

// The test bed's prefix log; a benchmark run in a prefix of its own names that one's in ZYN_DEBUG_LOG.
// A log that cannot be read fails the test, once however often a wait polls it: reading nothing
// from it would pass for "no entries".
static FILE *OpenDebugLog()
{
    const char *named = getenv("ZYN_DEBUG_LOG");
    const char *path = named != nullptr ? named : ZYN_TEST_DEBUG_LOG;
    FILE *file = fopen(path, "rb");
    int error = errno;
    static const testing::TestInfo *reportedIn = nullptr;
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    if (file == nullptr && (reportedIn != test || test == nullptr)) {
        reportedIn = test;
        ADD_FAILURE() << "the debug log " << path << " cannot be opened: errno " << error;
    }
    return file;
}

long long DebugLogSize()
{
    FILE *file = OpenDebugLog();
    if (file == nullptr) return 0;
    _fseeki64(file, 0, SEEK_END);
    long long size = _ftelli64(file);
    fclose(file);
    return size;
}

// Wine's ReportEventA stub prints its arguments on fixme:advapi, then ReportEventW prints each
// insertion string on err:, warn: or trace:eventlog by the entry's type, all on the caller's thread.
static std::vector<LoggedEvent> EntriesIn(FILE *file, long long offset)
{
    std::vector<LoggedEvent> entries;
    if (file == nullptr) return entries;
    _fseeki64(file, offset, SEEK_SET);
    char line[4096];
    const char call[] = ":fixme:advapi:ReportEventA (";
    const char text[] = ":eventlog:ReportEventW L\"";
    while (fgets(line, sizeof(line), file) != nullptr) {
        std::string thread(line, strcspn(line, ":"));
        if (const char *found = strstr(line, call)) {
            LoggedEvent entry = {thread, 0, 0, {}};
            sscanf(found + strlen(call), "%*[^,],0x%hx,%*[^,],0x%lx", &entry.type, &entry.id);
            entries.push_back(entry);
        } else if (const char *found = strstr(line, text)) {
            std::string value(found + strlen(text));
            while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
            if (!value.empty() && value.back() == '"') value.pop_back();
            for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
                if (entry->thread != thread) continue;
                entry->strings.push_back(value);
                break;
            }
        }
    }
    fclose(file);
    return entries;
}

std::vector<LoggedEvent> EventLogEntriesSince(long long offset)
{
    return EntriesIn(OpenDebugLog(), offset);
}

std::vector<std::string> EventLogStringsSince(long long offset)
{
    std::vector<std::string> strings;
    for (const LoggedEvent &entry : EventLogEntriesSince(offset)) {
        strings.insert(strings.end(), entry.strings.begin(), entry.strings.end());
    }
    return strings;
}

double CounterMs(long long from, long long to, long long frequency)
{
    return double(to - from) * 1000.0 / double(frequency);
}

long long CounterNow()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

long long CounterFrequency()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

std::string ProgramBesideThis(const char *name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    return text.substr(0, text.find_last_of('\\') + 1) + name;
}

// A fresh file in the temporary folder, inheritable and open for writing; its path in *path.
static HANDLE CreateCaptureFile(std::string *path)
{
    char folder[MAX_PATH], name[MAX_PATH];
    if (GetTempPathA(MAX_PATH, folder) == 0 || GetTempFileNameA(folder, "zyn", 0, name) == 0) return INVALID_HANDLE_VALUE;
    *path = name;
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    return CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

ProgramRun::ProgramRun(const std::string &commandLine)
{
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0,
                               nullptr);
    HANDLE output = CreateCaptureFile(&outputPath_);
    if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = output;
        startup.hStdError = output;
        PROCESS_INFORMATION process = {};
        std::string command = commandLine;
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
            CloseHandle(process.hThread);
            process_ = process.hProcess;
        }
    }
    for (HANDLE handle : {input, output}) {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
}

ProgramRun::~ProgramRun()
{
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
        CloseHandle(process_);
    }
    if (!outputPath_.empty()) DeleteFileA(outputPath_.c_str());
}

long ProgramRun::Wait(DWORD limitMs)
{
    if (process_ == nullptr || WaitForSingleObject(process_, limitMs) != WAIT_OBJECT_0) return -1;
    DWORD exitCode = 0;
    return GetExitCodeProcess(process_, &exitCode) ? static_cast<long>(exitCode) : -1;
}

std::string ProgramRun::Output() const
{
    std::string text;
    FILE *file = fopen(outputPath_.c_str(), "rb");
    if (file == nullptr) return text;
    char buffer[4096];
    size_t read;
    while ((read = fread(buffer, 1, sizeof(buffer), file)) > 0) {
        for (size_t i = 0; i < read; ++i) {
            if (buffer[i] != '\r') text += buffer[i];
        }
    }
    fclose(file);
    return text;
}

std::string ZynwatchPath()
{
    std::string path = ZYN_TEST_ZYNWATCH_EXE;
    for (char &c : path) c = c == '/' ? '\\' : c;
    return path;
}

std::string ZynwatchCommand(const std::string &arguments)
{
    return "\"" + ZynwatchPath() + "\" " + arguments;
}

SC_HANDLE CreateZynwatchService(SC_HANDLE manager)
{
    return CreateServiceA(manager, kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                          SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, ZynwatchPath().c_str(), nullptr, nullptr, nullptr,
                          nullptr, nullptr);
}

long RunBesideThis(const char *name, const std::string &arguments, DWORD limitMs, double *elapsedMs)
{
    std::string command = "\"" + ProgramBesideThis(name) + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    long long from = CounterNow();
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                        &started)) {
        return -1;
    }
    UniqueHandle process(started.hProcess), thread(started.hThread);
    bool ended = WaitForSingleObject(process.Get(), limitMs) == WAIT_OBJECT_0;
    if (elapsedMs != nullptr) *elapsedMs = CounterMs(from, CounterNow(), CounterFrequency());
    DWORD exitCode = 0;
    GetExitCodeProcess(process.Get(), &exitCode);
    if (!ended) TerminateProcess(process.Get(), 1);
    return ended ? static_cast<long>(exitCode) : -1;
}

bool WriteServiceValue(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY opened;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) return false;
    UniqueRegistryKey key(opened);
    return RegSetValueExA(key.Get(), name, 0, type, static_cast<const BYTE *>(data), size) == ERROR_SUCCESS;
}

bool WriteServiceDword(const char *name, DWORD value)
{
    return WriteServiceValue(name, REG_DWORD, &value, sizeof(value));
}
