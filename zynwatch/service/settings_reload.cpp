#include "service/settings_reload.h"

#include <stdio.h>
#include <string.h>

#include "configuration/service_configuration.h"
#include "configuration/setting_sources.h"
#include "events/service_event_log.h"
#include "health/health_monitor.h"
#include "service/settings_settle.h"
#include "service/settings_watch.h"
#include "service_messages.h"
#include "watchdog/watchdog_names.h"

struct SettingsReload {
    bool watching;
    SettingsWatch watch;
    SettingsSettle settle;
    SettingsSnapshot applied;  // the values the service applied, as the registry held them
    SettingsSnapshot read;     // the registry now
};

static SettingsReload g_reload;

void BeginSettingsReload()
{
    g_reload.watching = StartSettingsWatch(&g_reload.watch);
    g_reload.settle = {};
    ReadSettingsSnapshot(kSettingsConfigured, &g_reload.applied);
}

SettingsSnapshot *SettingsAtStart()
{
    return &g_reload.applied;
}

void PublishStartSettings()
{
    PublishAppliedSettings(g_reload.applied);
}

HANDLE SettingsChangeEvent()
{
    return g_reload.watching ? g_reload.watch.event : nullptr;
}

void NoteSettingsSignal()
{
    RearmSettingsWatch(&g_reload.watch);
    NoteSettingsChange(&g_reload.settle, GetTickCount64());
}

DWORD SettingsDueInMs()
{
    uint32_t wait = SettleWaitMs(g_reload.settle, GetTickCount64());
    return wait == kNothingToSettle ? INFINITE : wait;
}

// What the service does with the values, as the entry's second sentence.
struct ReloadActions {
    bool armed;         // the watchdog takes other settings
    bool armedLater;    // with the next heartbeat, the heartbeats being withheld now
    bool healthAgain;   // the health checks start again
};

static void DescribeActions(const ReloadActions &actions, const WatchdogSettings &settings, char *text, size_t size)
{
    char armed[192] = "";
    if (actions.armed) {
        snprintf(armed, sizeof(armed), "The BMC's watchdog is armed again%s with a countdown of %u seconds and the "
                 "timeout action %s.", actions.armedLater ? " with the next heartbeat, once the heartbeats resume," : "",
                 static_cast<unsigned>(settings.timeoutValue), TimeoutActionName(settings.timeoutAction));
    }
    const char *health = actions.healthAgain ? "The health checks start again with them." : "";
    const char *otherwise = !actions.armed && !actions.healthAgain ? "The next heartbeat follows them." : "";
    snprintf(text, size, "%s%s%s%s", armed, actions.armed && actions.healthAgain ? " " : "", health, otherwise);
}

static void ReportSettingsApplied(const char *changes, const char *actions)
{
    const char *strings[2] = {changes, actions};
    WriteServiceEvent(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_APPLIED, 2, strings);
}

// ShutdownTimeout as the keeper hands it over at shutdown; true when it changed.
static void ApplyShutdownTimeout(WatchdogKeeper *keeper)
{
    keeper->settings.shutdownTimeout = ReadShutdownTimeout();
}

SettingsApplied ApplySettledSettings(WatchdogKeeper *keeper, bool heartbeatsWithheld)
{
    SettingsApplied result = {};
    g_reload.settle = {};
    ReadSettingsSnapshot(kSettingsConfigured, &g_reload.read);
    uint32_t groups = ChangedSettingGroups(g_reload.applied, g_reload.read);
    if (groups == 0) return result;
    char changes[1024];
    DescribeSettingChanges(g_reload.applied, g_reload.read, changes, sizeof(changes));
    ReloadActions actions = {};
    if (groups & kGroupWatchdog) {
        actions.armed = ApplyWatchdogSettings(keeper, &g_reload.read, !heartbeatsWithheld);
        actions.armedLater = actions.armed && heartbeatsWithheld;
    }
    if (groups & kGroupShutdown) {
        ApplyShutdownTimeout(keeper);
        result.shutdownChanged = true;
    }
    if (groups & kGroupHealth) {
        StopHealthMonitor();
        StartHealthMonitor(keeper->settings);
        actions.healthAgain = true;
    } else if (actions.armed) {
        FollowArmedWatchdog(keeper->settings);
    }
    memcpy(&g_reload.applied, &g_reload.read, sizeof(g_reload.applied));
    PublishAppliedSettings(g_reload.applied);
    char described[320];
    DescribeActions(actions, keeper->settings, described, sizeof(described));
    ReportSettingsApplied(changes, described);
    result.changed = true;
    return result;
}

void EndSettingsReload()
{
    if (g_reload.watching) StopSettingsWatch(&g_reload.watch);
    g_reload.watching = false;
    RemoveAppliedSettings();
}
