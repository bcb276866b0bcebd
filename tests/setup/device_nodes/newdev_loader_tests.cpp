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

// The file a plain load by name takes, and whether the planted newdev.dll recorded its load: in a
// process where no newdev.dll was loaded before, since a loaded one would be handed out by name.
static bool PlainLoadTakesThePlantedFile(const std::string &programFolder, const std::string &log)
{
    if (GetModuleHandleA("newdev.dll") != nullptr) return false;
    HMODULE plain = LoadLibraryA("newdev.dll");
    char path[MAX_PATH] = "";
    GetModuleFileNameA(plain, path, MAX_PATH);
    std::string recorded = ReadFileBytes(log);
    fprintf(stderr, "loaded \"%s\", recorded \"%s\"\n", path, recorded.c_str());
    return plain != nullptr && _stricmp((programFolder + "\\newdev.dll").c_str(), path) == 0 &&
           recorded.find("load ") != std::string::npos;
}

TEST_F(PlantedNewdev, WouldBeTakenByAPlainLoad)
{
    // Proves the setting: without the system-folder restriction, Wine takes the planted file. The
    // load is made in a new process of this program, whatever test ran here before.
    EXPECT_EXIT(exit(PlainLoadTakesThePlantedFile(ProgramFolder(), log_) ? 0 : 1), ::testing::ExitedWithCode(0), "");
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
