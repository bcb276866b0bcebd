#include "simulated_bmc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "bmc_model.h"

SimulatedBmc::SimulatedBmc()
    : device_(CreateFileA(IMB_DEVICE_PATH_A, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
{
}

SimulatedBmc::~SimulatedBmc()
{
    if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
}

bool SimulatedBmc::Control(DWORD code, const void *input, DWORD inputSize, void *output, DWORD outputSize,
                           DWORD *returned)
{
    DWORD count = 0;
    BOOL ok = DeviceIoControl(device_, code, const_cast<void *>(input), inputSize, output, outputSize, &count,
                              nullptr);
    if (returned != nullptr) *returned = count;
    return ok != FALSE;
}

bool SimulatedBmc::Reset()
{
    return Control(IMBSIM_IOCTL_RESET, nullptr, 0, nullptr, 0);
}

bool SimulatedBmc::SetBehaviour(const ImbSimBehaviour &behaviour)
{
    return Control(IMBSIM_IOCTL_SET_BEHAVIOUR, &behaviour, sizeof(behaviour), nullptr, 0);
}

bool SimulatedBmc::AnswerWithCompletionCode(uint8_t code, uint32_t count)
{
    ImbSimBehaviour behaviour = {};
    behaviour.requestCount = count;
    behaviour.fields = IMBSIM_SET_COMPLETION_CODE;
    behaviour.completionCode = code;
    return SetBehaviour(behaviour);
}

bool SimulatedBmc::CompleteWithStatus(uint32_t status, uint32_t count)
{
    ImbSimBehaviour behaviour = {};
    behaviour.requestCount = count;
    behaviour.fields = IMBSIM_SET_STATUS;
    behaviour.status = status;
    return SetBehaviour(behaviour);
}

bool SimulatedBmc::ReportByteCount(uint32_t byteCount, uint32_t count)
{
    ImbSimBehaviour behaviour = {};
    behaviour.requestCount = count;
    behaviour.fields = IMBSIM_SET_BYTE_COUNT;
    behaviour.byteCount = byteCount;
    return SetBehaviour(behaviour);
}

bool SimulatedBmc::DelayAnswers(uint32_t delayMs, uint32_t count)
{
    ImbSimBehaviour behaviour = {};
    behaviour.requestCount = count;
    behaviour.fields = IMBSIM_SET_DELAY;
    behaviour.delayMs = delayMs;
    return SetBehaviour(behaviour);
}

bool SimulatedBmc::HoldRequests(uint32_t count, bool honourCancel)
{
    ImbSimBehaviour behaviour = {};
    behaviour.requestCount = count;
    behaviour.fields = IMBSIM_HOLD | (honourCancel ? IMBSIM_HONOUR_CANCEL : 0);
    return SetBehaviour(behaviour);
}

bool SimulatedBmc::ReleaseHeld(uint32_t *released)
{
    uint32_t count = 0;
    DWORD returned = 0;
    bool ok = Control(IMBSIM_IOCTL_RELEASE_HELD, nullptr, 0, &count, sizeof(count), &returned) &&
              returned == sizeof(count);
    if (released != nullptr) *released = count;
    return ok;
}

bool SimulatedBmc::SetBmc(const ImbSimBmcConfig &config)
{
    return Control(IMBSIM_IOCTL_SET_BMC, &config, sizeof(config), nullptr, 0);
}

bool SimulatedBmc::SetQuirks(uint8_t quirks)
{
    ImbSimBmcConfig config;
    BmcDefaultConfig(&config);
    config.quirks = quirks;
    return SetBmc(config);
}

bool SimulatedBmc::SetSel(uint16_t capacity, uint16_t prefill)
{
    ImbSimSelConfig config = {capacity, prefill, 0};
    return Control(IMBSIM_IOCTL_SET_SEL, &config, sizeof(config), nullptr, 0);
}

bool SimulatedBmc::ColdResetBmc()
{
    ImbRequestPacket request = {};
    request.timeoutMicroseconds = 5000000;
    request.responderAddress = 0x20;
    request.command = 0x02;
    request.networkFunction = 0x06;
    ImbResponsePacket response = {};
    DWORD returned = 0;
    return Control(IMB_IOCTL_SEND_MESSAGE, &request, IMB_REQUEST_HEADER_SIZE, &response, sizeof(response),
                   &returned) &&
           returned >= 1 && response.completionCode == 0x00;
}

// A read of the driver's state that fails is the test's failure: a zero it would give could pass a check
// that expects none. A read that keeps failing is reported once in each test, so a poll names it
// without repeating it, and a later test that reads nothing else fails as well.
static bool ReadSucceeded(bool done, const char *request, DWORD returned, DWORD expected)
{
    DWORD error = done ? ERROR_SUCCESS : GetLastError();
    static std::atomic<const char *> failing{nullptr};
    static std::atomic<const testing::TestInfo *> failingIn{nullptr};
    if (done && returned >= expected) {
        failing = nullptr;
        return true;
    }
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    bool reported = failing.exchange(request) == request;
    reported = failingIn.exchange(test) == test && reported;
    if (!reported) {
        ADD_FAILURE() << "the simulated driver answered " << request << " with error " << error << " and " << returned
                      << " of " << expected << " bytes";
    }
    return false;
}

std::vector<ImbSimLogEntry> SimulatedBmc::ReadLog(uint32_t first, int64_t *frequency)
{
    std::vector<ImbSimLogEntry> entries;
    const DWORD batch = 256;
    std::vector<uint8_t> buffer(sizeof(ImbSimLogHeader) + batch * sizeof(ImbSimLogEntry));
    for (;;) {
        DWORD returned = 0;
        bool done = Control(IMBSIM_IOCTL_READ_LOG, &first, sizeof(first), buffer.data(), buffer.size(), &returned);
        if (!ReadSucceeded(done, "IMBSIM_IOCTL_READ_LOG", returned, sizeof(ImbSimLogHeader))) break;
        ImbSimLogHeader header;
        memcpy(&header, buffer.data(), sizeof(header));
        if (!ReadSucceeded(true, "IMBSIM_IOCTL_READ_LOG", returned,
                           sizeof(header) + header.entryCount * sizeof(ImbSimLogEntry))) {
            break;
        }
        if (frequency != nullptr) *frequency = header.counterFrequency;
        const ImbSimLogEntry *batchEntries = reinterpret_cast<const ImbSimLogEntry *>(buffer.data() + sizeof(header));
        entries.insert(entries.end(), batchEntries, batchEntries + header.entryCount);
        if (header.entryCount == 0 || entries.back().sequence + 1 >= header.totalLogged) break;
        first = entries.back().sequence + 1;
    }
    return entries;
}

uint32_t SimulatedBmc::LoggedCount()
{
    uint8_t buffer[sizeof(ImbSimLogHeader)] = {};
    uint32_t first = 0xFFFFFFFFu;
    DWORD returned = 0;
    bool done = Control(IMBSIM_IOCTL_READ_LOG, &first, sizeof(first), buffer, sizeof(buffer), &returned);
    if (!ReadSucceeded(done, "IMBSIM_IOCTL_READ_LOG", returned, sizeof(buffer))) return 0;
    ImbSimLogHeader header;
    memcpy(&header, buffer, sizeof(header));
    return header.totalLogged;
}

ImbSimWatchdogState SimulatedBmc::ReadWatchdog()
{
    ImbSimWatchdogState state = {};
    DWORD returned = 0;
    bool done = Control(IMBSIM_IOCTL_READ_WATCHDOG, nullptr, 0, &state, sizeof(state), &returned);
    ReadSucceeded(done, "IMBSIM_IOCTL_READ_WATCHDOG", returned, sizeof(state));
    return state;
}

std::vector<std::vector<uint8_t>> SimulatedBmc::ReadSel(ImbSimSelHeader *header)
{
    std::vector<std::vector<uint8_t>> records;
    std::vector<uint8_t> buffer(sizeof(ImbSimSelHeader) + IMBSIM_SEL_MAX_RECORDS * IMBSIM_SEL_RECORD_SIZE);
    uint32_t first = 0;
    DWORD returned = 0;
    bool done = Control(IMBSIM_IOCTL_READ_SEL, &first, sizeof(first), buffer.data(), buffer.size(), &returned);
    if (!ReadSucceeded(done, "IMBSIM_IOCTL_READ_SEL", returned, sizeof(ImbSimSelHeader))) return records;
    ImbSimSelHeader read;
    memcpy(&read, buffer.data(), sizeof(read));
    if (header != nullptr) *header = read;
    const uint8_t *record = buffer.data() + sizeof(read);
    for (uint32_t i = 0; i < read.recordCount; ++i, record += IMBSIM_SEL_RECORD_SIZE) {
        records.emplace_back(record, record + IMBSIM_SEL_RECORD_SIZE);
    }
    return records;
}

ImbSimCounters SimulatedBmc::ReadCounters()
{
    ImbSimCounters counters = {};
    DWORD returned = 0;
    bool done = Control(IMBSIM_IOCTL_READ_COUNTERS, nullptr, 0, &counters, sizeof(counters), &returned);
    ReadSucceeded(done, "IMBSIM_IOCTL_READ_COUNTERS", returned, sizeof(counters));
    return counters;
}

bool ControlSimulatedDriver(bool start)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    SC_HANDLE service = OpenServiceA(manager, "imbsim", SERVICE_ALL_ACCESS);
    bool reached = false;
    if (service != nullptr) {
        SERVICE_STATUS status = {};
        bool done;
        if (start) {
            done = StartServiceA(service, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
        } else {
            done = ControlService(service, SERVICE_CONTROL_STOP, &status) || GetLastError() == ERROR_SERVICE_NOT_ACTIVE;
        }
        for (int i = 0; done && !reached && i < 200; ++i) {
            if (!QueryServiceStatus(service, &status)) break;
            reached = status.dwCurrentState == (start ? SERVICE_RUNNING : SERVICE_STOPPED);
            if (!reached) Sleep(25);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return reached;
}
