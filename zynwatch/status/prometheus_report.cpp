#include "status/prometheus_report.h"

#include <stdio.h>

#include "text_buffer.h"

const uint64_t kFileTimeAt1970 = 116444736000000000ull;  // 100 ns steps from 1601 to 1970
const uint32_t kAutomaticStart = 2;                       // SERVICE_AUTO_START

static void Family(TextBuffer *out, const char *name, const char *type, const char *help)
{
    AppendText(out, "# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

static void Gauge(TextBuffer *out, const char *name, const char *help, double value)
{
    Family(out, name, "gauge", help);
    AppendText(out, "%s %.10g\n", name, value);
}

double UnixSeconds(uint64_t fileTime)
{
    return fileTime > kFileTimeAt1970 ? static_cast<double>((fileTime - kFileTimeAt1970) / 10000000u) : 0;
}

// A label value as the format takes it: backslash, quote and line feed escaped, a byte of 0x80 or
// above as the UTF-8 of the character of the same number, as the JSON form carries it.
static void EscapeLabel(const char *label, char *escaped, size_t size)
{
    size_t used = 0;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(label); *c != '\0' && used + 3 < size; ++c) {
        if (*c == '\\' || *c == '"' || *c == '\n') {
            escaped[used++] = '\\';
            escaped[used++] = *c == '\n' ? 'n' : static_cast<char>(*c);
        } else if (*c >= 0x80) {
            escaped[used++] = static_cast<char>(0xC0 | (*c >> 6));
            escaped[used++] = static_cast<char>(0x80 | (*c & 0x3F));
        } else {
            escaped[used++] = static_cast<char>(*c);
        }
    }
    escaped[used] = '\0';
}

static void PutService(TextBuffer *out, const StatusFacts &facts)
{
    StatusVerdict verdict;
    DecideStatusVerdict(facts, &verdict);
    Gauge(out, "zynwatch_protected", "1 when zynwatch -status finds this server protected by the BMC's watchdog, else 0.",
          verdict.verdict == kVerdictYes ? 1 : 0);
    Gauge(out, "zynwatch_status_exit_code",
          "The exit code of zynwatch -status: 0 protected, 1 not protected, 2 the BMC not read, 3 the BMC will act.",
          DecideStatusExitCode(facts));
    Gauge(out, "zynwatch_service_running", "1 while ZynAsrService runs.", StatusServiceRuns(facts.service) ? 1 : 0);
    Gauge(out, "zynwatch_service_start_automatic", "1 when ZynAsrService starts with Windows.",
          facts.service.error == 0 && facts.service.startType == kAutomaticStart ? 1 : 0);
}

static void PutBmc(TextBuffer *out, const BmcFacts &bmc)
{
    Gauge(out, "zynwatch_bmc_read", "1 when the BMC answered Get Watchdog Timer.", bmc.read ? 1 : 0);
    if (!bmc.read) return;
    Gauge(out, "zynwatch_bmc_timer_running", "1 while the BMC's watchdog timer runs.", ReadingRunning(bmc.reading) ? 1 : 0);
    Gauge(out, "zynwatch_bmc_countdown_seconds",
          "Seconds left on the BMC's watchdog countdown; the BMC acts when it reaches 0 while the timer runs.",
          bmc.reading.presentCountdown / 10.0);
}

static void PutConfiguration(TextBuffer *out, const ConfigurationFacts &configuration)
{
    Gauge(out, "zynwatch_timeout_seconds", "TimeoutValue in use: seconds from the last heartbeat to the BMC's action.",
          configuration.settings.timeoutValue);
    Gauge(out, "zynwatch_heartbeat_interval_seconds", "Seconds between two heartbeats in use.",
          StatusIntervalInUse(configuration));
    Gauge(out, "zynwatch_settings_not_applied",
          "Settings the registry holds otherwise than the running service uses them; it applies them within moments.",
          CountNotApplied(configuration.sources));
}

static void PutHeartbeats(TextBuffer *out, const HeartbeatFacts &heartbeats)
{
    if (heartbeats.published) {
        Family(out, "zynwatch_heartbeat_failures_total", "counter",
               "Heartbeats that did not reach the BMC since the service started.");
        AppendText(out, "zynwatch_heartbeat_failures_total %lu\n", static_cast<unsigned long>(heartbeats.failures));
        Gauge(out, "zynwatch_heartbeat_failures_in_a_row",
              "Heartbeats that failed in a row since the last one that reached the BMC.", heartbeats.failuresInARow);
    }
    if (heartbeats.expiryFound != 0) {
        Gauge(out, "zynwatch_last_expiry_timestamp_seconds",
              "When the service last found at its start that the BMC's watchdog had expired, in seconds since 1970 (UTC).",
              UnixSeconds(heartbeats.expiryFound));
    }
}

// Each check the running service reports, by its name; one not checked yet has no sample.
static void PutHealth(TextBuffer *out, const HealthFacts &health)
{
    Gauge(out, "zynwatch_heartbeats_withheld", "1 while the service withholds its heartbeats because a health check fails.",
          HealthWithheld(health) ? 1 : 0);
    if (health.source != kHealthFromService) return;
    bool first = true;
    for (size_t index = 0; index < health.checkCount && index < kHealthMaxChecks; ++index) {
        const HealthCheckFacts &check = health.checks[index];
        if (check.record.state == kCheckNotYet) continue;
        if (first) Family(out, "zynwatch_health_check_failing", "gauge", "1 while the health check fails, 0 while it passes.");
        first = false;
        char label[4 * kHealthLabelSize];
        EscapeLabel(check.label, label, sizeof(label));
        AppendText(out, "zynwatch_health_check_failing{check=\"%s\"} %d\n", label, check.record.state == kCheckFailed ? 1 : 0);
    }
}

bool BuildPrometheusText(const StatusFacts &facts, char *text, size_t size)
{
    if (size == 0) return false;
    TextBuffer out = {text, size, 0, true};
    text[0] = '\0';
    PutService(&out, facts);
    PutBmc(&out, facts.bmc);
    PutConfiguration(&out, facts.configuration);
    PutHeartbeats(&out, facts.heartbeats);
    PutHealth(&out, facts.health);
    return out.fits;
}
