// The library under load: many threads opening, sending and closing at random while the driver
// answers with random completion codes and statuses; afterwards nothing may be left behind.
// ZYN_STRESS_CYCLES sets the cycles per thread (10,000 by default).
#include "library_fixture.h"

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

const int kStressThreads = 16;

static int StressCycles()
{
    const char *text = getenv("ZYN_STRESS_CYCLES");
    int cycles = text != nullptr ? atoi(text) : 0;
    return cycles > 0 ? cycles : 10000;
}

// Results the exchange may give while the driver injects its random answers: the four mapped
// statuses, and STATUS_UNSUCCESSFUL as the system maps it.
static bool ExpectedFailure(DWORD result)
{
    return result == ERROR_INSUFFICIENT_BUFFER || result == ERROR_BUFFER_OVERFLOW || result == WAIT_TIMEOUT ||
           result == ERROR_GEN_FAILURE;
}

static uint32_t NextRandom(uint32_t *state)
{
    *state ^= *state << 13;
    *state ^= *state >> 17;
    *state ^= *state << 5;
    return *state;
}

struct StressWorker {
    int id;
    int cycles;
    HANDLE start;
    long sends;
    std::string problem;  // the first thing that went wrong, empty when nothing did
    std::vector<DWORD> held;
};

// Sends one echo request naming the worker and the cycle; the answer must be its own or a clean failure.
static void SendEcho(StressWorker *worker, DWORD session, int cycle, uint32_t *random)
{
    BYTE request[45];
    BYTE length = static_cast<BYTE>(1 + NextRandom(random) % sizeof(request));
    for (BYTE i = 0; i < length; ++i) request[i] = static_cast<BYTE>(worker->id * 31 + cycle + i);
    BYTE answer[64], capacity = sizeof(answer), code = 0xEE;
    memset(answer, 0xA5, sizeof(answer));
    DWORD result = SendVX7Request(session, IMBSIM_NETFN_ECHO << 2, IMBSIM_CMD_ECHO, request, length, VX7_BMC_ADDRESS,
                                  answer, &capacity, &code);
    ++worker->sends;
    bool fine;
    if (result == 0 && code == 0) {
        fine = capacity == length && memcmp(answer, request, length) == 0;
    } else if (result == 0) {
        fine = capacity == 0 && answer[0] == 0xA5;
    } else {
        fine = ExpectedFailure(result) && capacity == sizeof(answer) && code == 0xEE;
    }
    if (!fine && worker->problem.empty()) {
        worker->problem = "cycle " + std::to_string(cycle) + ": result " + std::to_string(result) + " code " +
                          std::to_string(code) + " length " + std::to_string(capacity) + " for " +
                          std::to_string(length) + " bytes";
    }
}

// Each cycle opens a session, sends over one of the held ones and closes some of them at random,
// so the threads' opens and closes interleave in every order; holds at most four sessions.
static DWORD WINAPI Stress(void *argument)
{
    StressWorker *worker = static_cast<StressWorker *>(argument);
    uint32_t random = 0x9E3779B9u * static_cast<uint32_t>(worker->id + 1);
    std::vector<DWORD> &held = worker->held;
    WaitForSingleObject(worker->start, INFINITE);
    for (int cycle = 0; cycle < worker->cycles && worker->problem.empty(); ++cycle) {
        DWORD session = 0xFFFF;
        DWORD opened = OpenVX7Driver(&session);
        if (opened != 0) {
            worker->problem = "open gave " + std::to_string(opened);
            break;
        }
        held.push_back(session);
        SendEcho(worker, held[NextRandom(&random) % held.size()], cycle, &random);
        size_t closing = held.size() == 4 ? held.size() : NextRandom(&random) % (held.size() + 1);
        for (; closing > 0; --closing) {
            size_t which = NextRandom(&random) % held.size();
            DWORD closed = CloseVX7Driver(static_cast<LONG>(held[which]));
            if (closed != 0) worker->problem = "close gave " + std::to_string(closed);
            held.erase(held.begin() + which);
        }
    }
    for (DWORD session : held) {
        DWORD closed = CloseVX7Driver(static_cast<LONG>(session));
        if (closed != 0 && worker->problem.empty()) worker->problem = "final close gave " + std::to_string(closed);
    }
    held.clear();
    return 0;
}

class LibraryStress : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        handlesBefore_ = ProcessHandles();
        countersBefore_ = bmc_.ReadCounters();
    }

    // Runs body on every worker's thread at once and waits for all of them, well inside the test's own
    // limit, so that a hang names its threads; false when a thread did not start or end.
    bool RunThreads(int count, LPTHREAD_START_ROUTINE body, StressWorker *workers)
    {
        HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::vector<HANDLE> threads;
        for (int i = 0; i < count; ++i) {
            workers[i].start = start;
            HANDLE thread = CreateThread(nullptr, 0, body, &workers[i], 0, nullptr);
            EXPECT_NE(nullptr, thread) << GetLastError();
            if (thread != nullptr) threads.push_back(thread);
        }
        SetEvent(start);
        bool joined = JOIN_THREADS(threads.data(), static_cast<DWORD>(threads.size()), 150000);
        for (HANDLE thread : threads) CloseHandle(thread);
        CloseHandle(start);
        return joined && threads.size() == static_cast<size_t>(count);
    }

    // No session open, the device closed, the table usable from session 0 again, no handle left
    // but the library's kept events.
    void ExpectNothingLeft()
    {
        int stillOpen = 0;
        for (LONG session = 0; session < 512; ++session) {
            if (CloseVX7Driver(session) != ERROR_INVALID_HANDLE) ++stillOpen;
        }
        EXPECT_EQ(0, stillOpen) << "sessions left open";
        ImbSimCounters counters = bmc_.ReadCounters();
        EXPECT_EQ(countersBefore_.openHandles, counters.openHandles) << "the device is still open";
        EXPECT_EQ(counters.opens - countersBefore_.opens, counters.closes - countersBefore_.closes);
        // The library keeps one event for each request that was in flight at once, for later requests.
        EXPECT_LE(ProcessHandles(), handlesBefore_ + kStressThreads) << "handles leaked";
        // openCount is back at 0: the next open is session 0 and opens the device again.
        EXPECT_EQ(0u, OpenSession());
        EXPECT_EQ(counters.opens + 1, bmc_.ReadCounters().opens);
        EXPECT_EQ(0u, CloseVX7Driver(0));
    }

    DWORD handlesBefore_ = 0;
    ImbSimCounters countersBefore_ = {};
};

TEST_F(LibraryStress, RandomOpenSendCloseWithRandomAnswersLeavesNothingBehind)
{
    ImbSimBehaviour random = {};
    random.requestCount = IMBSIM_EVERY_REQUEST;
    random.fields = IMBSIM_RANDOM;
    random.randomSeed = 20260;
    ASSERT_TRUE(bmc_.SetBehaviour(random));
    std::vector<StressWorker> workers(kStressThreads);
    for (int i = 0; i < kStressThreads; ++i) workers[i] = {i, StressCycles(), nullptr, 0, "", {}};
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunThreads(kStressThreads, Stress, workers.data()));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    long sends = 0;
    for (const StressWorker &worker : workers) {
        EXPECT_EQ("", worker.problem) << "thread " << worker.id;
        sends += worker.sends;
    }
    EXPECT_EQ(static_cast<long>(kStressThreads) * StressCycles(), sends);
    EXPECT_EQ(static_cast<uint32_t>(sends), bmc_.ReadCounters().sendRequests - countersBefore_.sendRequests)
        << "every request reached the driver";
    printf("stress: %d threads x %d cycles, %ld requests in %.1f s (%.0f per second), device opened %u times\n",
           kStressThreads, StressCycles(), sends, seconds, sends / seconds,
           bmc_.ReadCounters().opens - countersBefore_.opens);
    ASSERT_TRUE(bmc_.Reset());
    ExpectNothingLeft();
}

// Each worker opens its share of the 512 sessions, all workers at once; a second run closes them.
static DWORD WINAPI OpenShare(void *argument)
{
    StressWorker *worker = static_cast<StressWorker *>(argument);
    WaitForSingleObject(worker->start, INFINITE);
    for (int i = 0; i < worker->cycles; ++i) {
        DWORD session = 0xFFFF;
        DWORD opened = OpenVX7Driver(&session);
        if (opened != 0) worker->problem = "open gave " + std::to_string(opened);
        if (opened != 0) break;
        worker->held.push_back(session);
    }
    return 0;
}

static DWORD WINAPI CloseShare(void *argument)
{
    StressWorker *worker = static_cast<StressWorker *>(argument);
    WaitForSingleObject(worker->start, INFINITE);
    for (DWORD session : worker->held) {
        DWORD closed = CloseVX7Driver(static_cast<LONG>(session));
        if (closed != 0) worker->problem = "close gave " + std::to_string(closed);
    }
    return 0;
}

TEST_F(LibraryStress, FiveHundredTwelveSessionsHeldByManyThreadsAndNoneLost)
{
    std::vector<StressWorker> workers(kStressThreads);
    for (int i = 0; i < kStressThreads; ++i) workers[i] = {i, 512 / kStressThreads, nullptr, 0, "", {}};
    ASSERT_TRUE(RunThreads(kStressThreads, OpenShare, workers.data()));
    std::set<DWORD> numbers;
    for (const StressWorker &worker : workers) {
        EXPECT_EQ("", worker.problem) << "thread " << worker.id;
        numbers.insert(worker.held.begin(), worker.held.end());
    }
    EXPECT_EQ(512u, numbers.size()) << "no number handed out twice";
    EXPECT_EQ(511u, numbers.empty() ? 0 : *numbers.rbegin());
    EXPECT_EQ(countersBefore_.opens + 1, bmc_.ReadCounters().opens) << "one device open for all 512";
    DWORD refused = 0xCAFE;
    EXPECT_RESULT_WITH_SENTINEL(ERROR_NO_SYSTEM_RESOURCES, OpenVX7Driver(&refused));
    EXPECT_EQ(0xCAFEu, refused);
    BYTE data[64], length = sizeof(data), code = 0xEE;
    EXPECT_EQ(0u, GetDeviceId(data, &length, &code)) << "the full table still exchanges requests";
    ASSERT_TRUE(RunThreads(kStressThreads, CloseShare, workers.data()));
    for (const StressWorker &worker : workers) EXPECT_EQ("", worker.problem) << "thread " << worker.id;
    ExpectNothingLeft();
}
