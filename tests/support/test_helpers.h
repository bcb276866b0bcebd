#pragma once
// Assertion helpers that report the caller's line.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Set before every call that is expected to fail, so a stale last error cannot pass for its result.
const DWORD kLastErrorSentinel = 0xDEADBEEF;

// Evaluates call after setting the sentinel and expects it to give expected.
#define EXPECT_RESULT_WITH_SENTINEL(expected, call) \
    EXPECT_EQ(static_cast<DWORD>(expected), (SetLastError(kLastErrorSentinel), static_cast<DWORD>(call)))

std::string HexBytes(const uint8_t *bytes, size_t count);

// The number of handles this process holds.
DWORD ProcessHandles();

// A ChangeServiceConfig2A call as one line: "failure actions reset=86400 reboot=- command=-
// restart/60000 restart/60000 none/0", "failure actions flag 1", or "level N".
std::string DescribeServiceConfig2(DWORD level, const void *info);

inline void ExpectBytesAt(const char *file, int line, const uint8_t *actual, size_t actualCount,
                          const std::vector<uint8_t> &expected)
{
    std::string want = HexBytes(expected.data(), expected.size());
    std::string got = HexBytes(actual, actualCount);
    if (want != got) ADD_FAILURE_AT(file, line) << "bytes differ\n  expected: " << want << "\n  actual:   " << got;
}

#define EXPECT_BYTES(actual, count, ...) ExpectBytesAt(__FILE__, __LINE__, (actual), (count), __VA_ARGS__)

// Waits for all the threads, at most limitMs. When they do not end in time, records a failure at the
// caller's line naming those still running and ends them, so that none outlives the data it uses.
bool JoinThreadsAt(const char *file, int line, const HANDLE *threads, DWORD count, DWORD limitMs);

#define JOIN_THREADS(threads, count, limitMs) JoinThreadsAt(__FILE__, __LINE__, (threads), (count), (limitMs))

inline uint32_t ReadLe32(const uint8_t *bytes)
{
    uint32_t value;
    memcpy(&value, bytes, sizeof(value));
    return value;
}
