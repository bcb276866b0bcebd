#pragma once
// Records the test program's ChangeServiceConfig2A calls as DescribeServiceConfig2 lines and
// passes them on, for the life of the object.
#include <windows.h>

#include <string>
#include <vector>

#include "import_hook.h"
#include "test_helpers.h"

class ServiceConfig2Recorder {
public:
    ServiceConfig2Recorder() : hook_("advapi32.dll", "ChangeServiceConfig2A", reinterpret_cast<void *>(&Record))
    {
        original_ = reinterpret_cast<decltype(&ChangeServiceConfig2A)>(hook_.Original());
        calls_.clear();
    }

    bool Installed() const { return hook_.Installed(); }
    const std::vector<std::string> &Calls() const { return calls_; }

private:
    static BOOL WINAPI Record(SC_HANDLE service, DWORD level, void *info)
    {
        calls_.push_back(DescribeServiceConfig2(level, info));
        return original_(service, level, info);
    }

    static inline std::vector<std::string> calls_;
    static inline decltype(&ChangeServiceConfig2A) original_ = nullptr;
    ImportHook hook_;
};

// What -install and the installer configure: a restart after 5 s at the first and second failure,
// after a minute at every later one, the count reset after a day, and a stop with an exit code as
// a failure.
const std::vector<std::string> kRecoveryCalls = {
    "failure actions reset=86400 reboot=- command=- restart/5000 restart/5000 restart/60000",
    "failure actions flag 1"};
