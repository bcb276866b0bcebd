#include "bmc_detection.h"

#include "console.h"
#include "device_id_report.h"
#include "device_nodes.h"
#include "setup_codes.h"
#include "setup_paths.h"
#include "vx7_library.h"

// The BMC's device node carries this fixed identifier, whatever the INF declares.
const char kBmcHardwareId[] = "*ZYN7310";
const BYTE kNetFnApplication = 0x18;  // network function 0x06, LUN 0
const BYTE kGetDeviceIdCommand = 0x01;
const BYTE kDeviceIdBufferSize = 64;

static int ShowApiVersion(const Vx7Entries &vx7, BYTE options)
{
    bool silent = IsSilent(options);
    if (!silent) ConsolePrint("VX7API information");
    DWORD version = 0;
    if (vx7.getVersion(&version) != ERROR_SUCCESS) {
        if (!silent) ConsoleLine("Error: Fail to get VX7API Version information!");
        return 0;
    }
    unsigned major = (version >> 8) & 0xFF, minor = version & 0xFF;
    if (!silent) ConsolePrint("\tzynvx7w.dll version %x.%x\n", major, minor);
    return 1;
}

static int QueryBmcDeviceId(const Vx7Entries &vx7, DWORD session, BYTE options)
{
    BYTE data[kDeviceIdBufferSize];
    BYTE length = sizeof(data);
    BYTE completionCode = 0;
    DWORD error = vx7.sendRequest(session, kNetFnApplication, kGetDeviceIdCommand, nullptr, 0, VX7_BMC_ADDRESS,
                                  data, &length, &completionCode);
    if (error != ERROR_SUCCESS) {
        if (!IsSilent(options)) ConsolePrint("Thread SendVX7Request error: Send error\n");
        return 0;
    }
    if (IsSilent(options)) return 1;
    // Any answer counts, whatever its completion code; only the bytes that came back are shown.
    char report[kDeviceIdReportSize];
    FormatDeviceIdReport(data, length <= sizeof(data) ? length : sizeof(data), report, sizeof(report));
    ConsolePrint("%s", report);
    return 1;
}

// Open, version, Get Device ID, close, on a library that is loaded and bound.
static int ProbeSession(const Vx7Entries &vx7, BYTE options)
{
    DWORD session = 0;
    if (vx7.openDriver(&session) != ERROR_SUCCESS) return kExitFailed;
    if (!ShowApiVersion(vx7, options) || !QueryBmcDeviceId(vx7, session, options)) {
        vx7.closeDriver(static_cast<LONG>(session));
        return kExitNoHardware;
    }
    return vx7.closeDriver(static_cast<LONG>(session)) == ERROR_SUCCESS ? kExitInstalled : kExitNoHardware;
}

int AccessBmcDevice(BYTE options)
{
    UniqueModule library;
    Vx7Entries vx7;
    int loaded = LoadVx7Library(g_setupPaths.installedLibrary, &library, &vx7);
    return loaded == kExitInstalled ? ProbeSession(vx7, options) : loaded;
}

static const char *DetectionLine(int result)
{
    switch (result) {
    case kExitInstalled: return "Success to access BMC Device.";
    case kExitNoHardware: return "No hardware found.";
    case kExitHardwareOnly: return "IPMI BMC hardware found. No library/driver installation occurred.";
    default: return "Fail to detect, BMC Device may malfunction.";
    }
}

int DetectBmcHardware(BYTE options)
{
    int result = kExitNoHardware;
    if (FindInExistDevice(kBmcHardwareId) == 1) result = AccessBmcDevice(options);
    if (!IsSilent(options)) ConsoleLine(DetectionLine(result));
    return result;
}
