#pragma once
// Test-side client of the simulated driver's control requests.
#include <windows.h>

#include <vector>

#include "imb_contract.h"

class SimulatedBmc {
public:
    SimulatedBmc();
    ~SimulatedBmc();
    SimulatedBmc(const SimulatedBmc &) = delete;
    SimulatedBmc &operator=(const SimulatedBmc &) = delete;

    bool Connected() const { return device_ != INVALID_HANDLE_VALUE; }

    bool Reset();
    bool SetBehaviour(const ImbSimBehaviour &behaviour);
    // Shorthands for the next count requests.
    bool AnswerWithCompletionCode(uint8_t code, uint32_t count = 1);
    bool CompleteWithStatus(uint32_t status, uint32_t count = 1);
    bool ReportByteCount(uint32_t byteCount, uint32_t count = 1);
    bool DelayAnswers(uint32_t delayMs, uint32_t count = 1);
    // The next count requests are held uncompleted, as a driver whose BMC never answers holds
    // them; honourCancel gives them a cancel routine, else a cancellation leaves them held.
    bool HoldRequests(uint32_t count, bool honourCancel);
    // Answers every held request from the BMC; released, when given, receives their number.
    bool ReleaseHeld(uint32_t *released = nullptr);
    bool SetBmc(const ImbSimBmcConfig &config);
    // The BMC's firmware faults (IMBSIM_QUIRK_*), with the identity and pre-timeout support of a fresh BMC.
    bool SetQuirks(uint8_t quirks);
    // A SEL that starts afresh with capacity records (0: none), prefill of them old ones.
    bool SetSel(uint16_t capacity, uint16_t prefill);
    // Sends the BMC the IPMI Cold Reset command, as a management tool or a firmware update does.
    bool ColdResetBmc();

    // Log entries from sequence first on (all that are still kept).
    std::vector<ImbSimLogEntry> ReadLog(uint32_t first = 0, int64_t *frequency = nullptr);
    uint32_t LoggedCount();
    ImbSimWatchdogState ReadWatchdog();
    // The SEL's records, each 16 bytes as Get SEL Entry gives them; header, when given, its state.
    std::vector<std::vector<uint8_t>> ReadSel(ImbSimSelHeader *header = nullptr);
    ImbSimCounters ReadCounters();

private:
    bool Control(DWORD code, const void *input, DWORD inputSize, void *output, DWORD outputSize,
                 DWORD *returned = nullptr);
    HANDLE device_;
};

// Starts or stops the test bed's simulated driver, the plain kernel service "imbsim", and waits
// for the state; true when the state was reached within five seconds.
bool ControlSimulatedDriver(bool start);
