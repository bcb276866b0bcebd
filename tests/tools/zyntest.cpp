// Inspection tool for the scenario scripts: reads the simulated BMC, the SCM and the registry
// from inside the scenario's Wine prefix and prints one fact per line.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../common/guards.h"
#include "simulated_bmc.h"
#include "test_device_nodes.h"

static int Usage()
{
    fprintf(stderr,
            "zyntest bmc-reset | bmc-cold-reset | bmc-log [first] | bmc-watchdog | bmc-counters\n"
            "        bmc-set [cc=N] [status=N] [bytes=N] [delay=MS] [hold=honour|ignore] [count=N|every] [skip=N]\n"
            "                [command=N]   (hold: never complete the request; honour or ignore its cancellation)\n"
            "        bmc-release (answers the held requests from the BMC and prints their number)\n"
            "        bmc-identity BYTE... (the Get Device ID answer's data bytes, hexadecimal)\n"
            "        bmc-quirks none|never-expires|half-pace (the watchdog's firmware fault)\n"
            "        bmc-sel | bmc-sel-set capacity=N prefill=N (the SEL's records; a fresh SEL, 0: none)\n"
            "        service-status NAME | service-config NAME | reg-values HKLM-SUBKEY | reg-tree HKLM-SUBKEY\n"
            "        service-start-type NAME auto|demand|disabled (as sc config sets it, which Wine's sc lacks)\n"
            "        node-add HARDWARE-ID... | nodes HARDWARE-ID\n"
            "        hold PATH (open without sharing, print \"held\", keep it open until standard input ends)\n"
            "        sleep SECONDS (a command that hangs)\n"
            "        no-handle VALUE (exit code 0 when this process has no handle of that value: not inherited)\n");
    return 2;
}

static double Milliseconds(int64_t counter, int64_t frequency)
{
    return frequency > 0 ? double(counter) * 1000.0 / double(frequency) : 0.0;
}

static std::string Hex(const uint8_t *bytes, size_t count)
{
    std::string text;
    char piece[4];
    for (size_t i = 0; i < count; ++i) {
        snprintf(piece, sizeof(piece), "%s%02X", i ? " " : "", bytes[i]);
        text += piece;
    }
    return text;
}

static int BmcLog(SimulatedBmc &bmc, uint32_t first)
{
    int64_t frequency = 0;
    for (const ImbSimLogEntry &e : bmc.ReadLog(first, &frequency)) {
        uint32_t shown = e.inputLength < sizeof(e.packet) ? e.inputLength : sizeof(e.packet);
        uint32_t answered = e.reportedBytes < sizeof(e.response) ? e.reportedBytes : sizeof(e.response);
        printf("seq=%u t=%.3f done=%.3f in=%u out=%u status=0x%08X bytes=%u packet=%s response=%s\n", e.sequence,
               Milliseconds(e.counter, frequency), Milliseconds(e.completedCounter, frequency), e.inputLength,
               e.outputLength, e.status, e.reportedBytes, Hex(e.packet, shown).c_str(),
               Hex(e.response, answered).c_str());
    }
    return 0;
}

static int BmcWatchdog(SimulatedBmc &bmc)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ImbSimWatchdogState s = bmc.ReadWatchdog();
    printf("use=0x%02X actions=0x%02X pretimeout=%u flags=0x%02X initial=%u present=%u running=%u set=%u "
           "sets=%u resets=%u started=%.3f events=%u\n",
           s.timerUse, s.timerActions, s.preTimeoutInterval, s.expirationFlags, s.initialCountdown,
           s.presentCountdown, s.running, s.everSet, s.setCount, s.resetCount,
           Milliseconds(s.lastStartCounter, frequency.QuadPart), s.eventCount);
    for (uint32_t i = 0; i < s.eventCount && i < IMBSIM_MAX_EVENTS; ++i) {
        const ImbSimWatchdogEvent &e = s.events[i];
        FILETIME utc;
        SYSTEMTIME when;
        utc.dwLowDateTime = static_cast<DWORD>(e.systemTime);
        utc.dwHighDateTime = static_cast<DWORD>(e.systemTime >> 32);
        FileTimeToSystemTime(&utc, &when);
        printf("event=%s action=%u use=%u logged=%u t=%.3f utc=%02u:%02u:%02u.%03u\n",
               e.kind == IMBSIM_EVENT_EXPIRY ? "expiry" : "pretimeout", e.action, e.timerUse, e.logged,
               Milliseconds(e.counter, frequency.QuadPart), when.wHour, when.wMinute, when.wSecond,
               when.wMilliseconds);
    }
    return 0;
}

static int BmcSet(SimulatedBmc &bmc, int argc, char **argv)
{
    ImbSimBehaviour behaviour = {};
    behaviour.requestCount = 1;
    for (int i = 0; i < argc; ++i) {
        const char *equals = strchr(argv[i], '=');
        if (equals == nullptr) return Usage();
        std::string key(argv[i], equals - argv[i]);
        const char *text = equals + 1;
        uint32_t value = static_cast<uint32_t>(strtoul(text, nullptr, 0));
        if (key == "cc") {
            behaviour.fields |= IMBSIM_SET_COMPLETION_CODE;
            behaviour.completionCode = value;
        } else if (key == "status") {
            behaviour.fields |= IMBSIM_SET_STATUS;
            behaviour.status = value;
        } else if (key == "bytes") {
            behaviour.fields |= IMBSIM_SET_BYTE_COUNT;
            behaviour.byteCount = value;
        } else if (key == "delay") {
            behaviour.fields |= IMBSIM_SET_DELAY;
            behaviour.delayMs = value;
        } else if (key == "hold" && (strcmp(text, "honour") == 0 || strcmp(text, "ignore") == 0)) {
            behaviour.fields |= IMBSIM_HOLD | (strcmp(text, "honour") == 0 ? IMBSIM_HONOUR_CANCEL : 0);
        } else if (key == "skip") {
            behaviour.skipCount = value;
        } else if (key == "command") {
            behaviour.fields |= IMBSIM_ONLY_COMMAND;
            behaviour.command = value;
        } else if (key == "count") {
            behaviour.requestCount = strcmp(text, "every") == 0 ? IMBSIM_EVERY_REQUEST : value;
        } else {
            return Usage();
        }
    }
    return bmc.SetBehaviour(behaviour) ? 0 : 1;
}

// The identity bytes a fresh BMC would report otherwise; pre-timeout support stays complete.
static int BmcIdentity(SimulatedBmc &bmc, int argc, char **argv)
{
    ImbSimBmcConfig config = {};
    if (argc < 1 || argc > static_cast<int>(sizeof(config.deviceId))) return Usage();
    for (int i = 0; i < argc; ++i) config.deviceId[i] = static_cast<uint8_t>(strtoul(argv[i], nullptr, 16));
    config.deviceIdLength = static_cast<uint8_t>(argc);
    config.preTimeoutSupport = 0x0E;
    return bmc.SetBmc(config) ? 0 : 1;
}

static int BmcQuirks(SimulatedBmc &bmc, int argc, char **argv)
{
    if (argc != 1) return Usage();
    uint8_t quirks = 0;
    if (strcmp(argv[0], "never-expires") == 0) {
        quirks = IMBSIM_QUIRK_NEVER_EXPIRES;
    } else if (strcmp(argv[0], "half-pace") == 0) {
        quirks = IMBSIM_QUIRK_HALF_PACE;
    } else if (strcmp(argv[0], "none") != 0) {
        return Usage();
    }
    return bmc.SetQuirks(quirks) ? 0 : 1;
}

static int BmcSelSet(SimulatedBmc &bmc, int argc, char **argv)
{
    unsigned long capacity = IMBSIM_SEL_MAX_RECORDS, prefill = 0;
    for (int i = 0; i < argc; ++i) {
        if (sscanf(argv[i], "capacity=%lu", &capacity) != 1 && sscanf(argv[i], "prefill=%lu", &prefill) != 1) return Usage();
    }
    if (capacity > IMBSIM_SEL_MAX_RECORDS || prefill > capacity) return Usage();
    return bmc.SetSel(static_cast<uint16_t>(capacity), static_cast<uint16_t>(prefill)) ? 0 : 1;
}

// One record a line: its ID and the bytes after it, then the SEL's own state.
static int BmcSel(SimulatedBmc &bmc)
{
    ImbSimSelHeader header = {};
    for (const std::vector<uint8_t> &record : bmc.ReadSel(&header)) {
        printf("id=0x%04X record=%s\n", record[0] | (record[1] << 8), Hex(record.data() + 2, record.size() - 2).c_str());
    }
    printf("count=%u capacity=%u overflow=%u reservation=%u\n", header.count, header.capacity, header.overflow,
           header.reservation);
    return ::testing::Test::HasFailure() ? 1 : 0;
}

static int Bmc(const char *command, int argc, char **argv)
{
    SimulatedBmc bmc;
    if (!bmc.Connected()) {
        fprintf(stderr, "zyntest: the simulated driver does not answer (%lu)\n", GetLastError());
        return 1;
    }
    if (strcmp(command, "bmc-reset") == 0) return bmc.Reset() ? 0 : 1;
    if (strcmp(command, "bmc-cold-reset") == 0) return bmc.ColdResetBmc() ? 0 : 1;
    if (strcmp(command, "bmc-log") == 0) return BmcLog(bmc, argc > 0 ? strtoul(argv[0], nullptr, 0) : 0);
    if (strcmp(command, "bmc-watchdog") == 0) return BmcWatchdog(bmc);
    if (strcmp(command, "bmc-set") == 0) return BmcSet(bmc, argc, argv);
    if (strcmp(command, "bmc-identity") == 0) return BmcIdentity(bmc, argc, argv);
    if (strcmp(command, "bmc-quirks") == 0) return BmcQuirks(bmc, argc, argv);
    if (strcmp(command, "bmc-sel-set") == 0) return BmcSelSet(bmc, argc, argv);
    if (strcmp(command, "bmc-sel") == 0) return BmcSel(bmc);
    if (strcmp(command, "bmc-counters") == 0) {
        ImbSimCounters c = bmc.ReadCounters();
        printf("opens=%u closes=%u requests=%u handles=%u held=%u cancelled=%u\n", c.opens, c.closes,
               c.sendRequests, c.openHandles, c.heldRequests, c.cancelledRequests);
        return 0;
    }
    if (strcmp(command, "bmc-release") == 0) {
        uint32_t released = 0;
        if (!bmc.ReleaseHeld(&released)) return 1;
        printf("%u\n", released);
        return 0;
    }
    return Usage();
}

static int Service(const char *command, const char *name)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG) : nullptr;
    int result = 1;
    if (service == nullptr) {
        printf("absent error=%lu\n", GetLastError());
    } else if (strcmp(command, "service-status") == 0) {
        SERVICE_STATUS_PROCESS s = {};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&s), sizeof(s), &needed)) {
            printf("state=%lu exit=%lu specific=%lu checkpoint=%lu wait=%lu controls=%lu type=0x%lx pid=%lu\n",
                   s.dwCurrentState, s.dwWin32ExitCode, s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint,
                   s.dwControlsAccepted, s.dwServiceType, s.dwProcessId);
            result = 0;
        }
    } else {
        BYTE buffer[8192];
        QUERY_SERVICE_CONFIGA *c = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer);
        DWORD needed = 0;
        if (QueryServiceConfigA(service, c, sizeof(buffer), &needed)) {
            printf("type=0x%lx start=%lu error=%lu path=%s display=%s account=%s\n", c->dwServiceType,
                   c->dwStartType, c->dwErrorControl, c->lpBinaryPathName, c->lpDisplayName,
                   c->lpServiceStartName ? c->lpServiceStartName : "");
            result = 0;
        }
    }
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return result;
}

// Wine's SCM rewrites the service's key on a change of its configuration and drops a Description
// it did not set itself, which setup writes into the key; Windows keeps it. Put back as it was.
static void KeepDescription(const char *name, bool restore)
{
    static BYTE data[2048];
    static DWORD type, size;
    std::string path = std::string("System\\CurrentControlSet\\Services\\") + name;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (!restore) {
        size = sizeof(data);
        if (RegQueryValueExA(key, "Description", nullptr, &type, data, &size) != ERROR_SUCCESS) size = 0;
    } else if (size != 0) {
        RegSetValueExA(key, "Description", 0, type, data, size);
    }
    RegCloseKey(key);
}

// The start type, as an administrator sets it; prints the error when the SCM refuses.
static int ServiceStartType(const char *name, const char *word)
{
    DWORD startType = strcmp(word, "auto") == 0 ? SERVICE_AUTO_START : strcmp(word, "demand") == 0 ? SERVICE_DEMAND_START
                      : strcmp(word, "disabled") == 0 ? SERVICE_DISABLED : SERVICE_NO_CHANGE;
    if (startType == SERVICE_NO_CHANGE) return Usage();
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_CHANGE_CONFIG) : nullptr;
    KeepDescription(name, false);
    bool changed = service != nullptr && ChangeServiceConfigA(service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    KeepDescription(name, true);
    if (!changed) printf("error=%lu\n", GetLastError());
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return changed ? 0 : 1;
}

// Values as the registry enumerates them (Wine sorts them by name), with type, size and data.
static int RegValues(const char *subkey)
{
    HKEY key;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key);
    if (error != ERROR_SUCCESS) {
        printf("absent error=%ld\n", error);
        return 1;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[4096];
        DWORD nameLength = sizeof(name), type = 0, size = sizeof(data);
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        printf("%s type=%lu size=%lu ", name, type, size);
        if (type == REG_DWORD && size == 4) {
            DWORD value;
            memcpy(&value, data, 4);
            printf("dword=%lu\n", value);
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            std::string text;
            for (DWORD i = 0; i < size && data[i] != 0; ++i) text += data[i] == '\n' ? std::string("\\n") : std::string(1, char(data[i]));
            printf("sz=%s\n", text.c_str());
        } else {
            printf("hex=%s\n", Hex(data, size < 64 ? size : 64).c_str());
        }
    }
    RegCloseKey(key);
    return 0;
}

// A root-enumerated node of class System carrying the identifiers, left in place; prints its instance.
static int NodeAdd(int argc, char **argv)
{
    std::string list;
    for (int i = 0; i < argc; ++i) list += std::string(argv[i]) + '\0';
    list += '\0';
    TestNodes nodes;
    std::string instance = nodes.AddRootNode(list);
    nodes.Forget();
    if (instance.empty()) {
        fprintf(stderr, "zyntest: no node (%lu)\n", GetLastError());
        return 1;
    }
    printf("%s\n", instance.c_str());
    return 0;
}

// Another program that has the file open and shares it with nobody, until its input ends.
static int Hold(const char *path)
{
    UniqueFileHandle file(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        fprintf(stderr, "zyntest: cannot open %s (%lu)\n", path, GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    char buffer[64];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    }
    return 0;
}

// A read of the simulated driver or of the device nodes that fails records a GoogleTest failure; here
// it goes to standard error and makes the exit code 1, so that no empty answer passes for "none".
class FailureToStandardError : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult &result) override
    {
        if (result.failed()) fprintf(stderr, "zyntest: %s\n", result.message());
    }
};

static int Run(int argc, char **argv)
{
    if (argc < 2) return Usage();
    const char *command = argv[1];
    if (strncmp(command, "bmc-", 4) == 0) return Bmc(command, argc - 2, argv + 2);
    if (strcmp(command, "service-start-type") == 0 && argc == 4) return ServiceStartType(argv[2], argv[3]);
    if (strncmp(command, "service-", 8) == 0 && argc == 3) return Service(command, argv[2]);
    if (strcmp(command, "reg-values") == 0 && argc == 3) return RegValues(argv[2]);
    if (strcmp(command, "reg-tree") == 0 && argc == 3) return CreateKeyTree(argv[2]) ? 0 : 1;
    if (strcmp(command, "hold") == 0 && argc == 3) return Hold(argv[2]);
    if (strcmp(command, "sleep") == 0 && argc == 3) {
        Sleep(strtoul(argv[2], nullptr, 10) * 1000);
        return 0;
    }
    if (strcmp(command, "no-handle") == 0 && argc == 3) {
        DWORD flags = 0;
        HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(strtoull(argv[2], nullptr, 0)));
        return GetHandleInformation(handle, &flags) ? 1 : 0;
    }
    if (strcmp(command, "node-add") == 0 && argc >= 3) return NodeAdd(argc - 2, argv + 2);
    if (strcmp(command, "nodes") == 0 && argc == 3) {
        for (const std::string &node : PresentNodesCarrying(argv[2])) printf("%s\n", node.c_str());
        return 0;
    }
    return Usage();
}

int main(int argc, char **argv)
{
    ::testing::TestEventListeners &listeners = ::testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
    listeners.Append(new FailureToStandardError);
    int result = Run(argc, argv);
    return ::testing::Test::HasFailure() ? 1 : result;
}
