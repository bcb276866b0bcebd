#pragma once
// Every test starts and ends without the service ZynAsrService, whatever it left running.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "last_error_text.h"
#include "service_event_source.h"
#include "service_identity.h"
#include "service_registration.h"
#include "setup_codes.h"
#include "setup_paths.h"
#include "test_helpers.h"

// What a call printed to standard output; a stale last error cannot pass for the call's own.
template <typename Call>
std::string Printed(Call call)
{
    testing::internal::CaptureStdout();
    SetLastError(kLastErrorSentinel);
    call();
    return testing::internal::GetCapturedStdout();
}

// The text GetLastErrorText gives for code, as the messages print it.
inline std::string ErrorText(DWORD code)
{
    char text[kErrorTextSize];
    SetLastError(code);
    return GetLastErrorText(text, sizeof(text));
}

// A program built beside the test program.
inline std::string BesideTestProgram(const char *name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.rfind('\\') + 1) + name;
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, manager_);
        // The built library as the installed one: a removal that must stop the watchdog uses it.
        std::string library = BesideTestProgram("zynvx7w.dll");
        ASSERT_LT(library.size(), sizeof(g_setupPaths.installedLibrary));
        strcpy(g_setupPaths.installedLibrary, library.c_str());
        ASSERT_TRUE(RemoveLeftover()) << "a ZynAsrService from before cannot be removed";
    }

    void TearDown() override
    {
        EXPECT_TRUE(RemoveLeftover());
        EXPECT_TRUE(RemoveServiceEventSource());
        CloseServiceHandle(manager_);
    }

    // Registered with this program's stand-in service, which stays stop-pending for the given seconds
    // and stops with the exit code given.
    void RegisterStandIn(const char *pendingSeconds, bool start, const char *exitCode = "0")
    {
        std::string path = BesideTestProgram("stop_pending_service.exe");
        ASSERT_EQ(0, RegisterService(MODE_SILENT, path.c_str()));
        if (start) ASSERT_TRUE(Start(pendingSeconds, exitCode));
    }

    bool Start(const char *pendingSeconds, const char *exitCode = "0")
    {
        SC_HANDLE service = OpenServiceA(manager_, kServiceName, SERVICE_ALL_ACCESS);
        const char *arguments[] = {pendingSeconds, exitCode};
        bool started = service != nullptr && StartServiceA(service, 2, arguments);
        for (int i = 0; started && i < 100 && State(service) != SERVICE_RUNNING; ++i) Sleep(100);
        started = started && State(service) == SERVICE_RUNNING;
        if (service != nullptr) CloseServiceHandle(service);
        return started;
    }

    // What opening the service gives: 0 while it is registered, ERROR_SERVICE_DOES_NOT_EXIST once it
    // is gone, ERROR_SERVICE_MARKED_FOR_DELETE before that; any other answer says nothing, and fails.
    DWORD OpenError()
    {
        SC_HANDLE service = OpenServiceA(manager_, kServiceName, SERVICE_QUERY_STATUS);
        DWORD error = service != nullptr ? ERROR_SUCCESS : GetLastError();
        if (service != nullptr) CloseServiceHandle(service);
        if (error != ERROR_SUCCESS && error != ERROR_SERVICE_DOES_NOT_EXIST && error != ERROR_SERVICE_MARKED_FOR_DELETE) {
            ADD_FAILURE() << "OpenService " << kServiceName << " failed with " << error;
        }
        return error;
    }

    bool Exists() { return OpenError() == ERROR_SUCCESS; }
    bool Gone() { return OpenError() == ERROR_SERVICE_DOES_NOT_EXIST; }

    // The SCM drops a deleted service once its process has gone.
    bool GoneWithin(DWORD milliseconds)
    {
        for (DWORD waited = 0; !Gone() && waited < milliseconds; waited += 100) Sleep(100);
        return Gone();
    }

    QUERY_SERVICE_CONFIGA *Config()
    {
        SC_HANDLE service = OpenServiceA(manager_, kServiceName, SERVICE_QUERY_CONFIG);
        DWORD needed = 0;
        auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(configBuffer_);
        bool read = service != nullptr && QueryServiceConfigA(service, config, sizeof(configBuffer_), &needed);
        if (service != nullptr) CloseServiceHandle(service);
        return read ? config : nullptr;
    }

    static DWORD State(SC_HANDLE service)
    {
        SERVICE_STATUS status = {};
        return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    }

    SC_HANDLE manager_ = nullptr;

    // Kills the stand-in's process if it still runs, deletes the service and waits until it is gone.
    bool RemoveLeftover()
    {
        SC_HANDLE service = OpenServiceA(manager_, kServiceName, SERVICE_ALL_ACCESS);
        if (service == nullptr) return true;
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status), sizeof(status),
                                 &needed) &&
            status.dwProcessId != 0) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId);
            if (process != nullptr) {
                TerminateProcess(process, 1);
                WaitForSingleObject(process, 5000);
                CloseHandle(process);
            }
        }
        DeleteService(service);
        CloseServiceHandle(service);
        return GoneWithin(10000);
    }

private:
    BYTE configBuffer_[8192];
};
