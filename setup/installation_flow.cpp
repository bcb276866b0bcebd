#include "installation_flow.h"

#include <string.h>

#include "../common/guards.h"
#include "../common/last_error_text.h"
#include "../common/service_identity.h"
#include "bmc_detection.h"
#include "command_line.h"
#include "console.h"
#include "device_nodes.h"
#include "driver_package.h"
#include "driver_removal.h"
#include "file_deployment.h"
#include "service_registration.h"
#include "service_stop.h"
#include "service_update.h"
#include "setup_codes.h"
#include "setup_paths.h"

typedef DWORD(WINAPI *GetVersionFunction)(DWORD *);

// One Get Device ID that times out is no proof of a missing BMC: the check asks this often, this far apart.
const int kBmcCheckTries = 3;
const DWORD kBmcCheckPauseMs = 2000;

// How the final check after a library copy reports and undoes.
enum class FinalCheckVariant { Silent, Quiet, Interactive, NewDevice };

static bool ModeIsSilent() { return (g_setupOptions & OPT_SILENT) != 0; }
static bool ModeIsQuiet() { return (g_setupOptions & OPT_QUIET) != 0; }
static int RebootResult(BOOL rebootRequired) { return rebootRequired ? kExitRestartRequired : kExitInstalled; }

static bool CopyLibrary()
{
    return CopyFileA(g_setupPaths.packagedLibrary, g_setupPaths.installedLibrary, FALSE) != FALSE;
}

static void PressAnyKeyToContinue()
{
    ConsolePrint("Press any key to continue...");
    ReadKey();
}

// Asked until "y" or "n"; without console input the answer is no, so a script never loops.
static bool AskOverwrite()
{
    for (;;) {
        ConsolePrint("Would you like to overwrite the existing file? [y/n] ");
        int key = ReadKey();
        ConsoleLine("");
        if (key == kEndOfInput || KeyIs(key, 'n')) return false;
        if (KeyIs(key, 'y')) return true;
        ConsolePrint("\n");
    }
}

static bool BmcAnswersAfterInstallation()
{
    for (int tries = 1;; ++tries) {
        if (AccessBmcDevice(MODE_SILENT) != kExitNoHardware) return true;
        if (tries == kBmcCheckTries) return false;
        Sleep(kBmcCheckPauseMs);
    }
}

// The BMC does not answer, and the service's stop may have left the watchdog running: the driver
// and the library stay, since nothing could stop the timer without them.
static int KeepDriverForWatchdog(FinalCheckVariant variant)
{
    if (variant == FinalCheckVariant::Silent) return kExitFailed;
    ConsoleLine("Not available!");
    ConsoleLine("Fail: The BMC watchdog timer may still run: the driver and zynvx7w.dll are kept, so that it can "
                "still be stopped.");
    return kExitFailed;
}

// The driver goes again, once no service is left that may have a running timer: a service still
// running on it could never disarm the watchdog.
static int RemoveWithoutAnswer(FinalCheckVariant variant)
{
    if (!StopRunningService(MODE_SILENT)) return KeepDriverForWatchdog(variant);
    switch (variant) {
    case FinalCheckVariant::Silent:
        UninstallDriver(MODE_SILENT);
        RemoveLibrary32(MODE_SILENT);
        break;
    case FinalCheckVariant::Quiet:
        UninstallDriver(MODE_QUIET);
        RemoveLibrary32(MODE_QUIET);
        ConsoleLine("Not available!");
        break;
    case FinalCheckVariant::Interactive:
        UninstallDriver(MODE_INTERACTIVE);
        ConsoleLine("Not available!");
        RemoveLibrary32(MODE_INTERACTIVE);
        break;
    case FinalCheckVariant::NewDevice:
        UninstallDriver(MODE_INTERACTIVE);
        ConsoleLine("Not available!");
        RemoveLibrary32(MODE_QUIET);
        break;
    }
    return kExitNoHardware;
}

static int FinalCheck(FinalCheckVariant variant, BOOL rebootRequired)
{
    int result = RebootResult(rebootRequired);
    if (variant != FinalCheckVariant::Silent) ConsolePrint("Detect BMC device ...");
    if (!BmcAnswersAfterInstallation()) return RemoveWithoutAnswer(variant);
    switch (variant) {
    case FinalCheckVariant::Silent:
        InstallLibrary32(MODE_SILENT);
        break;
    case FinalCheckVariant::Quiet:
    case FinalCheckVariant::Interactive:
        ConsoleLine("Available!");
        ConsoleLine("Update VX7API library successfully!");
        InstallLibrary32(variant == FinalCheckVariant::Quiet ? MODE_QUIET : MODE_INTERACTIVE);
        break;
    case FinalCheckVariant::NewDevice:
        ConsoleLine("Available!");
        InstallLibrary32(MODE_QUIET);
        break;
    }
    return result;
}

// Reads the interface version of a library file; false when it cannot be loaded or lacks the export.
static bool ReadLibraryVersion(const char *path, UniqueModule *module, DWORD *version)
{
    module->Reset(LoadLibraryA(path));
    if (!module->Valid()) return false;
    GetVersionFunction getVersion =
        reinterpret_cast<GetVersionFunction>(reinterpret_cast<void *>(GetProcAddress(module->Get(), "GetVX7Version")));
    if (getVersion == nullptr) return false;
    *version = 0;
    getVersion(version);
    return true;
}

// Copies after a yes; the closing result as the interactive update gives it.
static int OverwriteAndCheck(BOOL rebootRequired)
{
    if (!AskOverwrite()) return RebootResult(rebootRequired);
    if (!CopyLibrary()) {
        ConsoleLine("Faile: Unable to copy zynvx7w.dll file!");
        return kExitFailed;
    }
    return FinalCheck(FinalCheckVariant::Interactive, rebootRequired);
}

static int CheckLibraryVersion(BOOL rebootRequired)
{
    ClearReadOnly(g_setupPaths.installedLibrary);
    DWORD installedVersion = 0, packagedVersion = 0;
    {
        // Both stay loaded together while their versions are read.
        UniqueModule installed, packaged;
        if (!ReadLibraryVersion(g_setupPaths.installedLibrary, &installed, &installedVersion) ||
            !ReadLibraryVersion(g_setupPaths.packagedLibrary, &packaged, &packagedVersion)) {
            ConsoleLine("Fail: Unable to load zynvx7w.dll file!");
            return kExitFailed;
        }
    }
    if (packagedVersion > installedVersion) {
        ConsolePrint("Setup has found an older version of zynvx7w.dll file on your system.\n");
        if (!AskOverwrite()) return RebootResult(rebootRequired);
        if (!CopyLibrary()) {
            ConsoleLine("Faile: Unable to copy zynvx7w.dll file!");
            return kExitFailed;
        }
        ConsoleLine("Update VX7API library successfully!");
        InstallLibrary32(MODE_INTERACTIVE);
        return kExitRestartRequired;
    }
    if (packagedVersion == installedVersion) {
        ConsoleLine("Setup has found the same version of zynvx7w.dll file on your system.");
    } else {
        ConsolePrint("Warning: You are about to install an older version of zynvx7w.dll.\n");
    }
    return OverwriteAndCheck(rebootRequired);
}

static int UpdateExistingDevice(BOOL *rebootRequired)
{
    if (!UpdateExistingDriver(rebootRequired)) return kExitFailed;
    if (ModeIsSilent()) {
        if (!UpdateExistingDriver(rebootRequired)) return kExitFailed;
        ClearReadOnly(g_setupPaths.installedLibrary);
        if (!CopyLibrary()) return kExitFailed;
        return FinalCheck(FinalCheckVariant::Silent, *rebootRequired);
    }
    if (ModeIsQuiet()) {
        ConsoleLine("Found existing device...");
        ConsoleLine("Ready to overwrite...");
        if (!UpdateExistingDriver(rebootRequired)) {
            ConsoleLine("Fail: Unable to update current driver!");
            return kExitFailed;
        }
        ConsoleLine("Update driver successfully!");
        ClearReadOnly(g_setupPaths.installedLibrary);
        if (!CopyLibrary()) {
            ConsoleLine("Fail: Unable to copy zynvx7.dll file!");
            return kExitFailed;
        }
        return FinalCheck(FinalCheckVariant::Quiet, *rebootRequired);
    }
    ConsolePrint("Found existing device...\n");
    if (FileExists(g_setupPaths.installedLibrary)) return CheckLibraryVersion(*rebootRequired);
    if (!UpdateExistingDriver(rebootRequired)) {
        ConsoleLine("Fail: Unable to update current driver!");
        return kExitFailed;
    }
    if (!CopyLibrary()) {
        ConsoleLine("Faile: Unable to copy zynvx7w.dll file!");
        return kExitFailed;
    }
    return FinalCheck(FinalCheckVariant::Interactive, *rebootRequired);
}

// Messages and key waits of this branch appear in every output mode.
static int InstallOnNewDevice(BOOL *rebootRequired)
{
    ConsolePrint("Installing driver...\n");
    if (InstallRootEnumeratedDriver(rebootRequired) != 1) {
        ConsoleLine("Failed to install driver!");
        PressAnyKeyToContinue();
        return kExitFailed;
    }
    ConsoleLine("Install Driver Successfully!");
    if (!CopyLibrary()) {
        if (GetLastError() != ERROR_ACCESS_DENIED) {
            ConsoleLine("Fail: Unable to copy DLL file!");
            PressAnyKeyToContinue();
            return kExitFailed;
        }
        // A read-only library from an earlier installation: writable now, then copied once more.
        ClearReadOnly(g_setupPaths.installedLibrary);
        if (!CopyLibrary()) return kExitFailed;
    }
    return FinalCheck(FinalCheckVariant::NewDevice, *rebootRequired);
}

static int Install()
{
    BOOL rebootRequired = FALSE;
    JoinPackagedPath(g_driverPackage.infPath, "windows\\IMB64Drv.INF");
    DiagnosticLine("Start processing...\n");
    // Nothing may come from the current directory instead: refused before anything is touched.
    if (g_driverPackage.infPath[0] == '\0' || !PackagedPathsKnown()) {
        if (!ModeIsSilent()) ConsoleLine("Fail: Unable to locate the package files, the setup path may be too long!");
        DiagnosticLine("Package folder unknown.\n");
        return kExitFailed;
    }
    if (!DoInit()) {
        if (!ModeIsSilent()) ConsolePrint("Fail: Initializing from INF returned error!\n");
        DiagnosticLine("Find out Device ID failed.\n");
        return kExitFailed;
    }
    int found = FindInExistDevice(g_driverPackage.hardwareId);
    if (found == -1) {
        if (!ModeIsSilent()) ConsolePrint("Fail: Fatal error occurred when looking for existing devices!\n");
        if (IsInteractive(OptionMode())) {
            PressAnyKeyToContinue();
            ConsolePrint("\n");
        }
        DiagnosticLine("Failed to find existing devices.\n");
        return kExitFailed;
    }
    // The device installation replaces the driver file: a read-only one would stay, and the old driver with it.
    ClearReadOnly(g_setupPaths.installedDriver);
    if (found == 1) return UpdateExistingDevice(&rebootRequired);
    return InstallOnNewDevice(&rebootRequired);
}

// The failure line of the uninstallation, shown by mode (none when already printed); gives the
// failure result.
static int UninstallFailure(const char *message)
{
    if (ModeIsSilent()) return kExitFailed;
    if (message != nullptr) ConsoleLine(message);
    if (!ModeIsQuiet()) {
        PressAnyKeyToContinue();
        ConsolePrint("\n");
    }
    return kExitFailed;
}

static int Uninstall()
{
    // A running service disarms the BMC watchdog as it stops, which it can do only while the driver is
    // there; stopped after the driver, it would leave the watchdog to power-cycle the server. A watchdog
    // that may still run keeps everything, driver included, and the reason is printed already.
    if (!StopRunningService(OptionMode())) return UninstallFailure(nullptr);
    int removed = RemoveDriver();
    if (removed == -1) return UninstallFailure("Fail: Unable to remove current driver!");
    if (removed == 1) return UninstallFailure("Driver not found!");
    if (ModeIsQuiet()) {
        ConsoleLine("Current driver be removed successfully!");
    } else if (!ModeIsSilent()) {
        ConsolePrint("Current driver be removed successfully!");
        ConsolePrint("\n");
    }
    ClearReadOnly(g_setupPaths.installedDriver);
    DeleteFileA(g_setupPaths.installedDriver);
    RemoveLibrary32(OptionMode());
    if (FileExists(g_setupPaths.installedLibrary)) {
        ClearReadOnly(g_setupPaths.installedLibrary);
        if (!DeleteFileA(g_setupPaths.installedLibrary)) ConsoleLine("Fail: Unable to remove zynvx7w.dll!");
    }
    return kExitRestartRequired;
}

int RunSetup()
{
    if (g_setupOptions & OPT_USAGE) return ShowUsageScreen();
    if (g_setupOptions & OPT_DETECT) {
        if (!ModeIsSilent()) PrintBanner();
        int result = DetectBmcHardware(OptionMode());
        if (!ModeIsSilent() && !ModeIsQuiet()) {
            ConsolePrint("Press any key to exit ...");
            ReadKey();
        }
        return result;
    }
    if (!ModeIsSilent()) PrintBanner();
    if (g_setupOptions & OPT_INSTALL) return Install();
    if (g_setupOptions & OPT_UNINSTALL) return Uninstall();
    return kExitFailed;
}

// A read-only old copy is made writable and replaced, so an update never leaves the previous
// program registered; false, with the last error, when the program could not be copied.
static bool CopyServiceProgram()
{
    if (CopyFileA(g_setupPaths.packagedService, g_setupPaths.installedService, FALSE)) return true;
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;
    ClearReadOnly(g_setupPaths.installedService);
    return CopyFileA(g_setupPaths.packagedService, g_setupPaths.installedService, FALSE) != FALSE;
}

// Registered by this run, or by an earlier one that an update keeps.
static bool ServiceRegistered()
{
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Valid()) return false;
    UniqueServiceHandle service(OpenServiceA(manager.Get(), kServiceName, SERVICE_QUERY_STATUS));
    return service.Valid();
}

// Copies the service program and registers the service. A server left without its service, or with
// an old program under it, is no installation: the failure result, saying which step failed.
static int CopyAndRegisterService(int result)
{
    if (!CopyServiceProgram()) {
        GetLastErrorText(g_errorText, kErrorTextSize);
        if (!ModeIsSilent()) {
            ConsolePrint("Fail: Unable to copy zynwatch.exe to %s - %s\n", g_setupPaths.installedService, g_errorText);
        }
        return kExitFailed;
    }
    RegisterService(OptionMode(), g_setupPaths.installedService);
    if (ServiceRegistered()) return result;
    if (!ModeIsSilent()) ConsolePrint("Fail: The %s is not registered!\n", kServiceDisplayName);
    return kExitFailed;
}

// Windows does not let a running service's program be replaced: a running service is stopped for
// the copy alone and started again, also when the copy failed and the old program stays.
static int DeployService(int result)
{
    ServiceHold hold = HoldServiceForUpdate(OptionMode());
    int deployed = CopyAndRegisterService(result);
    ReleaseServiceAfterUpdate(hold, OptionMode());
    return deployed;
}

static void RemoveServiceProgram()
{
    if (RemoveService(OptionMode()) != 0) return;
    ClearReadOnly(g_setupPaths.installedService);
    DeleteFileA(g_setupPaths.installedService);
}

int RunInstaller(int argc, char **argv)
{
    InitPaths();
    ParseCommandLine(argc, argv);
    int result = RunSetup();
    if (result == kExitInstalled || result == kExitRestartRequired) {
        if (g_setupOptions & OPT_INSTALL) {
            result = DeployService(result);
        } else if (g_setupOptions & OPT_UNINSTALL) {
            RemoveServiceProgram();
        }
    }
    bool succeeded = result == kExitInstalled || result == kExitRestartRequired;
    if (succeeded && (g_setupOptions & (OPT_INSTALL | OPT_UNINSTALL)) && IsInteractive(OptionMode())) {
        AskAutoReboot();
    }
    if (result == kExitRestartRequired && !ModeIsSilent()) {
        ConsoleLine("\nYou need to restart your computer before the changes");
        ConsoleLine("your made to this device will take affect.");
    }
    if (result == kExitFailed && (g_setupOptions & OPT_INSTALL) && !ModeIsSilent()) {
        ConsoleLine("\nTerminated by user or failed to install driver.");
        if (!ModeIsQuiet()) {
            ConsoleLine("Press any key to exit ...");
            ReadKey();
        }
    }
    return result;
}
