// Copy and removal of the 32-bit library in every output mode, with the exact messages.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "file_deployment.h"
#include "setup_codes.h"
#include "setup_paths.h"
#include "setup_test_support.h"

const char kPackaged[] = "packaged 32-bit build";
const char kInstalled[] = "installed older build";

// The package and the target folder under a scratch directory; g_setupPaths points at them.
class Library32 : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = g_setupPaths;
        ASSERT_TRUE(CreateDirectoryA((directory_ / "SysWOW64").c_str(), nullptr));
        ASSERT_TRUE(WriteTextFile(packaged_, kPackaged));
        UsePaths(packaged_, target_);
    }
    void TearDown() override { g_setupPaths = saved_; }

    static void UsePaths(const std::string &packaged, const std::string &installed)
    {
        strcpy(g_setupPaths.packagedLibrary32, packaged.c_str());
        strcpy(g_setupPaths.installedLibrary32, installed.c_str());
    }

    void InstallOldReadOnlyTarget()
    {
        ASSERT_TRUE(WriteTextFile(target_, kInstalled));
        ASSERT_TRUE(SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_READONLY));
    }

    bool TargetReadOnly() const { return (GetFileAttributesA(target_.c_str()) & FILE_ATTRIBUTE_READONLY) != 0; }

    // Runs the operation with no console input; gives its result and what it printed.
    template <typename Operation>
    int Run(Operation operation, BYTE mode, std::string *printed)
    {
        NoConsoleInput noInput;
        ConsoleCapture console;
        int result = operation(mode);
        *printed = console.Output();
        EXPECT_EQ("", console.Errors());
        return result;
    }

    std::string Message(const char *format)
    {
        char text[600];
        snprintf(text, sizeof(text), format, target_.c_str());
        return WithCrLf(text);
    }

    SetupPaths saved_;
    TempDirectory directory_;
    std::string packaged_ = directory_ / "zynvx7w-packaged.dll";
    std::string target_ = directory_ / "SysWOW64\\zynvx7w.dll";
    std::string printed_;
};

TEST_F(Library32, AbsentTargetIsCopiedWithoutAQuestionInEveryMode)
{
    for (BYTE mode : {MODE_INTERACTIVE, MODE_QUIET, MODE_SILENT, static_cast<BYTE>(OPT_INSTALL | OPT_QUIET)}) {
        DeleteFileA(target_.c_str());
        EXPECT_EQ(0, Run(InstallLibrary32, mode, &printed_)) << int(mode);
        EXPECT_EQ(kPackaged, ReadFileBytes(target_)) << int(mode);
        EXPECT_EQ(IsSilent(mode) ? "" : Message("Install 32bit library %s successfully!\n"), printed_) << int(mode);
    }
}

TEST_F(Library32, QuietAndSilentReplaceAReadOnlyTargetWithoutAsking)
{
    for (BYTE mode : {MODE_QUIET, MODE_SILENT, static_cast<BYTE>(OPT_INSTALL | OPT_SILENT)}) {
        InstallOldReadOnlyTarget();
        EXPECT_EQ(0, Run(InstallLibrary32, mode, &printed_)) << int(mode);
        EXPECT_EQ(kPackaged, ReadFileBytes(target_)) << int(mode);
        EXPECT_EQ(IsSilent(mode) ? "" : Message("Update 32bit library %s successfully!\n"), printed_) << int(mode);
    }
}

TEST_F(Library32, InteractiveQuestionClearsReadOnlyFirstAndEndOfInputMeansNo)
{
    InstallOldReadOnlyTarget();
    EXPECT_EQ(0, Run(InstallLibrary32, MODE_INTERACTIVE, &printed_));
    EXPECT_EQ(WithCrLf("The 32bit library zynvx7w.dll exist, overwrite[y/n]?\n"), printed_);
    EXPECT_EQ(kInstalled, ReadFileBytes(target_));
    EXPECT_FALSE(TargetReadOnly());
}

TEST_F(Library32, FailedCopyIsReportedUnlessSilentAndGives2)
{
    // A target folder that does not exist, as on a system without SysWOW64.
    std::string nowhere = directory_ / "NoSysWOW64\\zynvx7w.dll";
    UsePaths(packaged_, nowhere);
    for (BYTE mode : {MODE_INTERACTIVE, MODE_QUIET, MODE_SILENT}) {
        EXPECT_EQ(kExitFailed, Run(InstallLibrary32, mode, &printed_)) << int(mode);
        std::string expected = "Faile: Unable to copy 32bit library " + nowhere + "!\n";
        EXPECT_EQ(IsSilent(mode) ? "" : WithCrLf(expected), printed_) << int(mode);
    }
    // An existing target and no packaged file: the update fails and the target stays.
    UsePaths(directory_ / "absent.dll", target_);
    InstallOldReadOnlyTarget();
    EXPECT_EQ(kExitFailed, Run(InstallLibrary32, MODE_QUIET, &printed_));
    EXPECT_EQ(Message("Faile: Unable to copy 32bit library %s!\n"), printed_);
    EXPECT_EQ(kInstalled, ReadFileBytes(target_));
}

TEST_F(Library32, RemovalOfAnAbsentLibraryDoesNothing)
{
    for (BYTE mode : {MODE_INTERACTIVE, MODE_QUIET, MODE_SILENT}) {
        EXPECT_EQ(0, Run(RemoveLibrary32, mode, &printed_)) << int(mode);
        EXPECT_EQ("", printed_) << int(mode);
    }
}

TEST_F(Library32, QuietAndSilentDeleteAReadOnlyLibraryWithoutAsking)
{
    for (BYTE mode : {MODE_QUIET, MODE_SILENT}) {
        InstallOldReadOnlyTarget();
        EXPECT_EQ(0, Run(RemoveLibrary32, mode, &printed_)) << int(mode);
        EXPECT_FALSE(FileExists(target_.c_str())) << int(mode);
        EXPECT_EQ(IsSilent(mode) ? "" : Message("Remove 32bit library %s successfully!\n"), printed_) << int(mode);
    }
}

TEST_F(Library32, InteractiveRemovalWithoutAnAnswerKeepsTheLibraryWritable)
{
    InstallOldReadOnlyTarget();
    EXPECT_EQ(0, Run(RemoveLibrary32, MODE_INTERACTIVE, &printed_));
    EXPECT_EQ(WithCrLf("The 32bit library zynvx7w.dll exist, remove it[y/n]?\n"), printed_);
    EXPECT_EQ(kInstalled, ReadFileBytes(target_));
    EXPECT_FALSE(TargetReadOnly());
}

TEST_F(Library32, FailedDeletionIsReportedUnlessSilentAndGives2)
{
    ASSERT_TRUE(WriteTextFile(target_, kInstalled));
    // Loaded by another program: open without delete sharing.
    HANDLE inUse = CreateFileA(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, inUse);
    for (BYTE mode : {MODE_QUIET, MODE_SILENT}) {
        EXPECT_EQ(kExitFailed, Run(RemoveLibrary32, mode, &printed_)) << int(mode);
        EXPECT_EQ(IsSilent(mode) ? "" : Message("Faile: Unable to remove 32bit library %s!\n"), printed_);
    }
    CloseHandle(inUse);
    EXPECT_TRUE(FileExists(target_.c_str()));
}
