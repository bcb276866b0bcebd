#include "driver_package.h"

#include <setupapi.h>
#include <string.h>

#include "console.h"
#include "guards.h"

// A field value or a decorated section name: 259 characters and the terminator.
const DWORD kFieldSize = MAX_PATH;

enum FieldRead {
    kFieldMissing,  // no such field, or the read failed: the caller goes on as the INF allows
    kFieldRead,
    kFieldTooLong,  // refused rather than cut: the whole reading fails
};

// The INF that DoInit holds open while the manufacturer and models sections are walked.
static HINF g_openInf = INVALID_HANDLE_VALUE;

// Reads string field `index` of the line into the kFieldSize-byte destination.
static FieldRead GetField(INFCONTEXT *line, DWORD index, char *destination)
{
    DiagnosticLine("**************** Start GetField() ***********\n");
    DWORD required = 0;
    if (!SetupGetStringFieldA(line, index, nullptr, 0, &required)) return kFieldMissing;
    if (required > kFieldSize) {
        DiagnosticLine("GetStringField() fail...\n");
        return kFieldTooLong;
    }
    char value[kFieldSize] = {};
    if (!SetupGetStringFieldA(line, index, value, required, nullptr)) {
        DiagnosticLine("GetStringField() fail...\n");
        return kFieldMissing;
    }
    DiagnosticPrint(" GetStringField() sucessed= %s\n", value);
    memcpy(destination, value, kFieldSize);
    DiagnosticLine("------------- End of GetField() -----------\n");
    return kFieldRead;
}

// Takes every identifier of one models line into hardwareId, the last one staying; false when a
// value is refused.
static bool ReadModelsLine(INFCONTEXT *line, bool *found)
{
    char description[kFieldSize] = {};
    char candidate[kFieldSize] = {};
    FieldRead read = GetField(line, 0, description);
    if (read == kFieldMissing) read = GetField(line, 1, description);
    if (read != kFieldRead) return read != kFieldTooLong;
    DWORD count = SetupGetFieldCount(line);
    for (DWORD index = 2; index <= count; ++index) {
        read = GetField(line, index, candidate);
        if (read != kFieldRead) return read != kFieldTooLong;
        if (candidate[0] == '\0') continue;  // an empty position names no device
        if (strlen(candidate) >= kHardwareIdSize) return false;
        strcpy(g_driverPackage.hardwareId, candidate);
        DiagnosticPrint("Get Device ID= %s    nfield=%d\n", candidate, index);
        *found = true;
    }
    return true;
}

// 1 when the models section exists and gave at least one identifier, else 0.
static int EnumDevice(const char *section)
{
    DiagnosticLine("************** Start EnumDevice *********\n");
    INFCONTEXT line;
    if (!SetupFindFirstLineA(g_openInf, section, nullptr, &line)) {
        DiagnosticLine("Find Device name failed..\n");
        return 0;
    }
    DiagnosticLine("Find Device name successful!\n");
    bool found = false;
    bool refused = false;
    do {
        refused = !ReadModelsLine(&line, &found);
    } while (!refused && SetupFindNextLine(&line, &line));
    DiagnosticLine("----------- End of EnumDevice() -----------\n");
    return found && !refused ? 1 : 0;
}

// Walks the models section one manufacturer line names, decorated with its first platform.
static bool ReadManufacturerLine(INFCONTEXT *line)
{
    char manufacturer[kFieldSize] = {};
    char models[kFieldSize] = {};
    char decoration[kFieldSize] = {};
    if (GetField(line, 0, manufacturer) != kFieldRead || GetField(line, 1, models) != kFieldRead) {
        DiagnosticLine("Get INF file field failed..\n");
        return false;
    }
    DiagnosticLine("Get INF file field success!\n");
    FieldRead read = GetField(line, 2, decoration);
    if (read == kFieldTooLong) return false;
    if (read == kFieldRead) {
        if (strlen(models) + 1 + strlen(decoration) >= kFieldSize) return false;
        strcat(models, ".");
        strcat(models, decoration);
    }
    return EnumDevice(models) == 1;
}

// 1 when every line of the Manufacturer section led to an identifier, else 0.
static int EnumManufacturers()
{
    DiagnosticLine("********\tEnumManufacturers()\t*********\n");
    INFCONTEXT line;
    if (!SetupFindFirstLineA(g_openInf, "Manufacturer", nullptr, &line)) {
        DiagnosticLine("SetupFindFirstLine() is failed..\n");
        ReportFailure("EnumManufactures");
        return 0;
    }
    bool complete = true;
    do {
        complete = ReadManufacturerLine(&line);
    } while (complete && SetupFindNextLine(&line, &line));
    DiagnosticLine("-------- end of EnumManufacturers() -------\n");
    return complete ? 1 : 0;
}

int DoInit()
{
    DiagnosticLine("********** DoInit() ************\n");
    WIN32_FIND_DATAA entry;
    UniqueFindHandle search(FindFirstFileA(g_driverPackage.infPath, &entry));
    if (!search.Valid()) {
        DiagnosticLine("FindFirstFile failed..\n");
        return 0;
    }
    search.Close();
    DiagnosticLine("FindFirstFile successful!\n");
    UniqueInfFile inf(SetupOpenInfFileA(g_driverPackage.infPath, nullptr, INF_STYLE_WIN4, nullptr));
    if (!inf.Valid()) {
        DiagnosticLine("Open file failed\n");
        return 0;
    }
    DiagnosticLine("Open INF file successful!\n");
    g_openInf = inf.Get();
    int result = EnumManufacturers();
    g_openInf = INVALID_HANDLE_VALUE;
    inf.Close();
    DiagnosticLine("------------ End of DoInit -----------\n");
    return result;
}
