#include "health/health_publication.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "guards.h"
#include "health/health_settings.h"
#include "service_identity.h"

const char kHealthKeyPath[] = "System\\CurrentControlSet\\Services\\ZynAsrService\\Health";
const char kHeartbeatsRecordValue[] = "Heartbeats";

// The records written last, so that an unchanged one is not written again.
struct WrittenRecords {
    uint8_t checks[kHealthMaxChecks][kCheckRecordSize];
    size_t checkSizes[kHealthMaxChecks];
    uint8_t heartbeats[kHeartbeatsRecordSize];
    bool heartbeatsWritten;
};

static WrittenRecords g_written;

static void CheckValueName(size_t index, char name[16])
{
    snprintf(name, 16, "Check%lu", static_cast<unsigned long>(index));
}

static void WriteRecord(const char *name, const uint8_t *bytes, size_t size)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHealthKeyPath, 0, KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS) return;
    RegSetValueExA(key.Get(), name, 0, REG_BINARY, bytes, static_cast<DWORD>(size));
}

bool CreateHealthPublication()
{
    memset(&g_written, 0, sizeof(g_written));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kHealthKeyPath);
    UniqueRegistryKey key;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, kHealthKeyPath, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr,
                           key.Receive(), nullptr) == ERROR_SUCCESS;
}

void PublishCheck(size_t index, const HealthCheckRecord &record, const char *label)
{
    if (index >= kHealthMaxChecks) return;
    uint8_t bytes[kCheckRecordSize];
    size_t size = EncodeCheckRecord(record, label, bytes);
    if (size == g_written.checkSizes[index] && memcmp(bytes, g_written.checks[index], size) == 0) return;
    char name[16];
    CheckValueName(index, name);
    WriteRecord(name, bytes, size);
    memcpy(g_written.checks[index], bytes, size);
    g_written.checkSizes[index] = size;
}

void PublishHeartbeats(bool withheld, uint32_t actedCheck, uint64_t since)
{
    uint8_t bytes[kHeartbeatsRecordSize];
    EncodeHeartbeatsRecord(withheld, actedCheck, since, bytes);
    if (g_written.heartbeatsWritten && memcmp(bytes, g_written.heartbeats, sizeof(bytes)) == 0) return;
    WriteRecord(kHeartbeatsRecordValue, bytes, sizeof(bytes));
    memcpy(g_written.heartbeats, bytes, sizeof(bytes));
    g_written.heartbeatsWritten = true;
}

void RemoveHealthPublication()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kHealthKeyPath);
}

uint64_t FileTimeNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Minutes the local time is ahead of UTC at that moment; 0 when it cannot be told.
static int16_t UtcOffsetMinutes(uint64_t fileTime, const SYSTEMTIME &local)
{
    FILETIME asUtc;
    if (!SystemTimeToFileTime(&local, &asUtc)) return 0;
    int64_t localTime = static_cast<int64_t>((static_cast<uint64_t>(asUtc.dwHighDateTime) << 32) | asUtc.dwLowDateTime);
    int64_t minutes = (localTime - static_cast<int64_t>(fileTime - fileTime % 10000000)) / 600000000;
    return static_cast<int16_t>(minutes);
}

CivilTime LocalCivilTime(uint64_t fileTime)
{
    FILETIME utc = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    SYSTEMTIME universal = {}, local = {};
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        local = universal;
    }
    local.wMilliseconds = 0;
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
            UtcOffsetMinutes(fileTime, local)};
}

void FormatLocalTime(uint64_t fileTime, char *text, size_t size)
{
    FormatCivilTime(LocalCivilTime(fileTime), text, size);
}

// The record of each check up to the first missing one, and the heartbeats' record.
static bool ReadPublication(HKEY key, HealthFacts *facts)
{
    uint8_t bytes[kCheckRecordSize];
    DWORD size = kHeartbeatsRecordSize;
    uint64_t since = 0;
    if (RegQueryValueExA(key, kHeartbeatsRecordValue, nullptr, nullptr, bytes, &size) != ERROR_SUCCESS ||
        !DecodeHeartbeatsRecord(bytes, size, &facts->withheld, &facts->actedCheck, &since)) {
        return false;
    }
    facts->withheldSince = LocalCivilTime(since);
    size_t count = 0;
    for (; count < kHealthMaxChecks; ++count) {
        char name[16];
        CheckValueName(count, name);
        HealthCheckFacts &check = facts->checks[count];
        size = sizeof(bytes);
        if (RegQueryValueExA(key, name, nullptr, nullptr, bytes, &size) != ERROR_SUCCESS) break;
        if (!DecodeCheckRecord(bytes, size, &check.record, check.label)) break;
        check.since = LocalCivilTime(check.record.sinceTime);
    }
    facts->checkCount = count;
    return count != 0;
}

void GatherHealthFacts(bool serviceRuns, HealthFacts *facts, SettingsView view)
{
    memset(facts, 0, sizeof(*facts));
    ReadHealthSettings(&facts->settings, false, view);
    if (serviceRuns) {
        UniqueRegistryKey key;
        bool published = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHealthKeyPath, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
        if (published && ReadPublication(key.Get(), facts)) {
            facts->source = kHealthFromService;
            return;
        }
    }
    memset(facts->checks, 0, sizeof(facts->checks));
    facts->withheld = false;
    HealthCheck checks[kHealthMaxChecks];
    facts->checkCount = ListHealthChecks(facts->settings, checks);
    for (size_t index = 0; index < facts->checkCount; ++index) {
        HealthCheckLabel(facts->settings, checks[index], facts->checks[index].label, kHealthLabelSize);
    }
    facts->source = serviceRuns ? kHealthNotPublished : kHealthServiceNotRunning;
}
