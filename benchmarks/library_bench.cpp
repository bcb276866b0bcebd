// Round-trip cost of the library against bare DeviceIoControl, and throughput by thread count.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "imb_contract.h"
#include "zynvx7w.h"

static const BYTE kGetDeviceId[13] = {0, 0, 0, 0, 0x40, 0x4B, 0x4C, 0x00, 0x20, 0x01, 0x06, 0x00, 0x00};

static double Seconds(LARGE_INTEGER start, LARGE_INTEGER end)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

static HANDLE OpenDevice()
{
    return CreateFileA(IMB_DEVICE_PATH_A, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

static bool LibraryRequest(HANDLE)
{
    BYTE data[64], length = sizeof(data), code;
    return SendVX7Request(0, 0x18, 0x01, nullptr, 0, 0x20, data, &length, &code) == 0;
}

static bool BareRequest(HANDLE device)
{
    BYTE response[46];
    DWORD count = 0;
    return DeviceIoControl(device, IMB_IOCTL_SEND_MESSAGE, const_cast<BYTE *>(kGetDeviceId), 13, response,
                           sizeof(response), &count, nullptr) != FALSE;
}

// The pattern the library is built on: a fresh event and OVERLAPPED per request.
static bool EventRequest(HANDLE device)
{
    BYTE response[46];
    DWORD count = 0;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    BOOL ok = DeviceIoControl(device, IMB_IOCTL_SEND_MESSAGE, const_cast<BYTE *>(kGetDeviceId), 13, response,
                              sizeof(response), &count, &overlapped);
    CloseHandle(overlapped.hEvent);
    return ok != FALSE;
}

typedef bool (*RequestFunction)(HANDLE);

static double Median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Medians of the three ways, sampled in turn so that drift of the machine hits all alike.
static bool MedianMicroseconds(RequestFunction const ways[3], HANDLE device, int rounds, double medians[3])
{
    std::vector<double> samples[3];
    for (int i = 0; i < rounds; ++i) {
        for (int k = 0; k < 3; ++k) {
            int way = (i + k) % 3;
            LARGE_INTEGER start, end;
            QueryPerformanceCounter(&start);
            if (!ways[way](device)) return false;
            QueryPerformanceCounter(&end);
            samples[way].push_back(Seconds(start, end) * 1e6);
        }
    }
    for (int k = 0; k < 3; ++k) medians[k] = Median(samples[k]);
    return true;
}

struct ThroughputRun {
    RequestFunction request;
    HANDLE device;
    int requests;
};

static DWORD WINAPI RunRequests(void *argument)
{
    ThroughputRun *run = static_cast<ThroughputRun *>(argument);
    for (int i = 0; i < run->requests; ++i) {
        if (!run->request(run->device)) return 1;
    }
    return 0;
}

static double RequestsPerSecondOnce(RequestFunction request, HANDLE device, int threads, int perThread)
{
    std::vector<HANDLE> handles;
    ThroughputRun run = {request, device, perThread};
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < threads; ++i) handles.push_back(CreateThread(nullptr, 0, RunRequests, &run, 0, nullptr));
    WaitForMultipleObjects(threads, handles.data(), TRUE, INFINITE);
    QueryPerformanceCounter(&end);
    for (HANDLE h : handles) CloseHandle(h);
    return threads * perThread / Seconds(start, end);
}

// The median of three runs: single runs under Wine vary by a factor of two.
static double RequestsPerSecond(RequestFunction request, HANDLE device, int threads, int perThread)
{
    std::vector<double> runs;
    for (int i = 0; i < 3; ++i) runs.push_back(RequestsPerSecondOnce(request, device, threads, perThread));
    return Median(runs);
}

int main()
{
    DWORD session;
    if (OpenVX7Driver(&session) != 0) {
        printf("the simulated driver does not answer\n");
        return 1;
    }
    HANDLE device = OpenDevice();
    const int rounds = 3000;
    RequestFunction const ways[3] = {LibraryRequest, BareRequest, EventRequest};
    double medians[3];
    MedianMicroseconds(ways, device, 200, medians);  // warm-up
    if (!MedianMicroseconds(ways, device, rounds, medians)) {
        printf("a request failed\n");
        return 1;
    }
    double library = medians[0], bare = medians[1], mandated = medians[2];
    printf("median round trip, Get Device ID (%d requests each)\n", rounds);
    printf("  SendVX7Request                          %8.1f us\n", library);
    printf("  DeviceIoControl, kept-open handle       %8.1f us\n", bare);
    printf("  DeviceIoControl + CreateEvent/Close     %8.1f us\n", mandated);
    printf("  library / mandated pattern              %8.3f   (goal <= 1.05)\n", library / mandated);
    printf("  library / bare DeviceIoControl          %8.3f\n", library / bare);
    printf("aggregate requests per second\n");
    printf("  threads      library    mandated        bare   library/bare   library/mandated\n");
    for (int threads : {1, 2, 4, 8}) {
        int perThread = 4000 / threads;
        double lib = RequestsPerSecond(LibraryRequest, device, threads, perThread);
        double event = RequestsPerSecond(EventRequest, device, threads, perThread);
        double raw = RequestsPerSecond(BareRequest, device, threads, perThread);
        printf("  %7d %12.0f %11.0f %11.0f %14.3f %18.3f%s\n", threads, lib, event, raw, lib / raw, lib / event,
               threads == 8 ? "   (goal: library/bare >= 0.9)" : "");
    }
    CloseHandle(device);
    CloseVX7Driver(static_cast<LONG>(session));
    return 0;
}
