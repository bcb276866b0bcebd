// The driver installation entry comes from the system folder only. This program lies beside a
// planted newdev.dll (the test stand-in, which records its load) and runs with
// WINEDLLOVERRIDES=newdev=n,b, so that Wine would prefer the planted file to its own builtin.
#include <windows.h>

#include <newdev.h>

#include "newdev_loader.h"
#include "setup_test_support.h"
#include "test_helpers.h"

class PlantedNewdev : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_ = directory_ / "newdev.log";
        SetEnvironmentVariableA("ZYN_FAKE_NEWDEV_LOG", log_.c_str());
        SetEnvironmentVariableA("ZYN_FAKE_NEWDEV", "fail=0xE0000219");
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("ZYN_FAKE_NEWDEV_LOG", nullptr);
        SetEnvironmentVariableA("ZYN_FAKE_NEWDEV", nullptr);
    }

    static std::string ProgramFolder()
    {
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        *strrchr(path, '\\') = '\0';
        return path;
    }

    TempDirectory directory_;
    std::string log_;
};

// Set for the copy of this program that WouldBeTakenByAPlainLoad starts.
const char kFreshProcess[] = "ZYN_NEWDEV_FRESH_PROCESS";

// Runs one test of this program in a new process of its own; its exit code, or the failure to get one.
static DWORD RunAlone(const char *test)
{
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string command = std::string("\"") + program + "\" --gtest_brief=1 --gtest_filter=" + test;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    SetEnvironmentVariableA(kFreshProcess, "1");
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA(kFreshProcess, nullptr);
    if (!started) return GetLastError();
    DWORD exitCode = ERROR_TIMEOUT;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &exitCode);
    } else {
        TerminateProcess(process.hProcess, ERROR_TIMEOUT);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

TEST_F(PlantedNewdev, WouldBeTakenByAPlainLoad)
{
    // Proves the setting: without the system-folder restriction, Wine takes the planted file. A
    // newdev.dll loaded before would be handed out by name, so the load is made in a new process.
    if (GetEnvironmentVariableA(kFreshProcess, nullptr, 0) == 0) {
        EXPECT_EQ(0u, RunAlone("PlantedNewdev.WouldBeTakenByAPlainLoad")) << "the plain load in a new process";
        return;
    }
    ASSERT_EQ(nullptr, GetModuleHandleA("newdev.dll"));
    HMODULE plain = LoadLibraryA("newdev.dll");
    ASSERT_NE(nullptr, plain);
    char path[MAX_PATH] = "";
    GetModuleFileNameA(plain, path, MAX_PATH);
    FreeLibrary(plain);
    EXPECT_EQ(0, _stricmp((ProgramFolder() + "\\newdev.dll").c_str(), path)) << path;
    EXPECT_NE(std::string::npos, ReadFileBytes(log_).find("load ")) << "the planted newdev.dll ran";
}

TEST_F(PlantedNewdev, IsNeverLoadedForTheDriverUpdate)
{
    BOOL reboot = FALSE;
    SetLastError(kLastErrorSentinel);
    BOOL updated = UpdateDriverForDevices("ZYNTEST\\NO_SUCH_DEVICE", "C:\\windows\\inf\\missing.inf", INSTALLFLAG_FORCE,
                                          &reboot);
    EXPECT_EQ("", ReadFileBytes(log_)) << "the planted newdev.dll was loaded";
    // The planted one would have failed with 0xE0000219. Wine's own newdev answers TRUE even for an
    // identifier no device carries (Windows: FALSE with ERROR_NO_SUCH_DEVINST), so only its origin is judged here.
    EXPECT_FALSE(!updated && GetLastError() == 0xE0000219u);
    HMODULE loaded = GetModuleHandleA("newdev.dll");
    ASSERT_NE(nullptr, loaded) << "kept for the next call";
    char path[MAX_PATH] = "", system[MAX_PATH] = "";
    GetModuleFileNameA(loaded, path, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(0, _stricmp((std::string(system) + "\\newdev.dll").c_str(), path)) << path;
}
