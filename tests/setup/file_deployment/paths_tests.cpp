// Where the installer takes its files from and puts them, and the read-only handling before a
// file is replaced or deleted.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "file_deployment.h"
#include "setup_paths.h"
#include "setup_test_support.h"

static std::string ProgramDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    *(strrchr(path, '\\') + 1) = '\0';
    return path;
}

// Every buffer holds its path and only zeros after it.
static void ExpectZeroFilled(const char *field, const char *name)
{
    size_t length = strnlen(field, MAX_PATH);
    ASSERT_LT(length, static_cast<size_t>(MAX_PATH)) << name;
    for (size_t i = length; i < MAX_PATH; ++i) ASSERT_EQ(0, field[i]) << name << " at " << i;
}

TEST(InitPaths, NinePathsFromTheWindowsFoldersAndTheProgramsOwnDirectory)
{
    char windows[MAX_PATH], system[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    memset(&g_setupPaths, 0xCC, sizeof(g_setupPaths));
    TraceCapture trace;
    InitPaths();
    const SetupPaths &p = g_setupPaths;
    // Under Wine these are C:\windows and C:\windows\system32.
    EXPECT_STREQ(windows, p.windowsDir);
    EXPECT_STREQ(system, p.systemDir);
    EXPECT_EQ(std::string(system) + "\\drivers\\imbdrv.sys", p.installedDriver);
    EXPECT_EQ(std::string(system) + "\\zynvx7w.dll", p.installedLibrary);
    EXPECT_EQ(std::string(system) + "\\zynwatch.exe", p.installedService);
    EXPECT_EQ(std::string(windows) + "\\SysWOW64\\zynvx7w.dll", p.installedLibrary32);
    std::string directory = ProgramDirectory();
    EXPECT_EQ(directory + "windows\\zynvx7w.dll", p.packagedLibrary);
    EXPECT_EQ(directory + "windows\\zynwatch.exe", p.packagedService);
    EXPECT_EQ(directory + "windows\\SysWOW64\\zynvx7w.dll", p.packagedLibrary32);
    const char *const fields[] = {p.windowsDir, p.systemDir, p.installedDriver, p.installedLibrary,
                                  p.installedService, p.installedLibrary32, p.packagedLibrary,
                                  p.packagedService, p.packagedLibrary32};
    for (const char *field : fields) ExpectZeroFilled(field, field);
    EXPECT_TRUE(trace.Lines().empty()) << "nothing to report when every path is known";
}

TEST(InitPaths, PackagedFilesAreFoundThroughTheProgramNotTheCurrentDirectory)
{
    TempDirectory elsewhere;
    char saved[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.Path().c_str()));
    InitPaths();
    SetCurrentDirectoryA(saved);
    EXPECT_EQ(ProgramDirectory() + "windows\\zynvx7w.dll", g_setupPaths.packagedLibrary);
    EXPECT_EQ(ProgramDirectory() + "windows\\SysWOW64\\zynvx7w.dll", g_setupPaths.packagedLibrary32);
}

class ReadOnlyFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WriteTextFile(file_, "content")); }
    TempDirectory directory_;
    std::string file_ = directory_ / "zynvx7w.dll";
};

TEST_F(ReadOnlyFiles, ClearReadOnlyTakesOnlyTheReadOnlyAttribute)
{
    const DWORD others = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(SetFileAttributesA(file_.c_str(), others | FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(others | FILE_ATTRIBUTE_READONLY, GetFileAttributesA(file_.c_str()));
    ClearReadOnly(file_.c_str());
    EXPECT_EQ(others, GetFileAttributesA(file_.c_str()));
    ClearReadOnly(file_.c_str());
    EXPECT_EQ(others, GetFileAttributesA(file_.c_str())) << "a writable file is left as it is";
    EXPECT_TRUE(DeleteFileA(file_.c_str()));
}

TEST_F(ReadOnlyFiles, MissingFileIsLeftAloneAndExistsOnlyWhenThere)
{
    std::string missing = directory_ / "absent.dll";
    ClearReadOnly(missing.c_str());
    EXPECT_FALSE(FileExists(missing.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(missing.c_str()));
    EXPECT_TRUE(FileExists(file_.c_str()));
}
