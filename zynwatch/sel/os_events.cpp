#include "sel/os_events.h"

#include <windows.h>

#include <stdio.h>

#include "configuration/setting_events.h"
#include "configuration/setting_sources.h"
#include "events/service_event_log.h"
#include "guards.h"
#include "sel/sel_requests.h"
#include "sel/sel_rules.h"
#include "service_identity.h"
#include "service_messages.h"

// A volatile key: it exists from the boot's event until Windows restarts, so that a restart of the
// service writes no second boot.
const char kBootWrittenKeyPath[] = "System\\CurrentControlSet\\Services\\ZynAsrService\\OsBootWritten";
const size_t kReasonSize = 160;

static bool g_osEventsOn = true;

static void ReportSelEventsIgnored(SettingSource source, const char *reason)
{
    if (source == kSourcePolicy) {
        ReportPolicyValueIgnored(kSelEventsValue, reason);
        return;
    }
    const char *strings[2] = {kSelEventsValue, reason};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_HEALTH_VALUE_IGNORED, 2, strings);
}

bool ReadSelEventsSetting()
{
    g_osEventsOn = true;
    DWORD number = 0, type = REG_NONE, size = sizeof(number);
    SettingSource source = kSourceNone;
    LONG error = QuerySetting(kSettingsConfigured, kSelEventsValue, &type, reinterpret_cast<BYTE *>(&number), &size,
                              &source);
    if (error == ERROR_FILE_NOT_FOUND) return true;
    char reason[kReasonSize];
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) {
        snprintf(reason, sizeof(reason), "it cannot be read: error %ld; the events are written", static_cast<long>(error));
        ReportSelEventsIgnored(source, reason);
        return true;
    }
    if (!JudgeSelEvents(type, error == ERROR_SUCCESS ? size : 0, number, &g_osEventsOn, reason, sizeof(reason))) {
        ReportSelEventsIgnored(source, reason);
    }
    return g_osEventsOn;
}

// One event; a refusal is a warning that names the event and the cause.
static bool Announce(OsEvent event)
{
    WatchdogOutcome outcome = {};
    if (SendOsEvent(event, &outcome)) return true;
    char cause[64];
    DescribeOutcome(outcome, cause, sizeof(cause));
    const char *strings[2] = {OsEventName(event), cause};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_SEL_EVENT_REFUSED, 2, strings);
    return false;
}

static bool BootWritten()
{
    UniqueRegistryKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBootWrittenKeyPath, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

static void NoteBootWritten()
{
    UniqueRegistryKey key;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kBootWrittenKeyPath, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr,
                    key.Receive(), nullptr);
}

void AnnounceOsBoot()
{
    if (!g_osEventsOn || BootWritten()) return;
    if (Announce(kOsBootCompleted)) NoteBootWritten();
}

void AnnounceOsShutdown()
{
    if (g_osEventsOn) Announce(kOsGracefulShutdown);
}
