#include "status/sel_lines.h"

#include <stdio.h>

#include "watchdog/watchdog_names.h"

void DescribeUnreadSel(const SelFacts &facts, char *text, size_t size)
{
    char cause[48];
    DescribeOutcome(facts.outcome, cause, sizeof(cause));
    if (SelAbsent(facts)) {
        snprintf(text, size, "none - the BMC has no SEL (%s)", cause);
    } else if (OutcomeSucceeded(facts.outcome)) {
        snprintf(text, size, "not read - short answer of %u bytes", static_cast<unsigned>(facts.outcome.length));
    } else {
        snprintf(text, size, "not read - %s", cause);
    }
}

static const char *ShutdownBeforeText(ShutdownBefore before)
{
    if (before == kShutdownBeforeYes) return "a graceful shutdown came before it";
    if (before == kShutdownBeforeNo) return "no graceful shutdown came before it";
    return "the log does not say whether a graceful shutdown came before it";
}

static void AddExpiryLine(const SelFacts &facts, StatusReport *report)
{
    const SelHistory &history = facts.history;
    unsigned entries = facts.info.entries, read = history.recordsRead;
    char line[kStatusLineSize];
    if (history.expiryFound) {
        char when[48];
        FormatSelTime(history.expiry.timestamp, when, sizeof(when));
        snprintf(line, sizeof(line), "BMC last watchdog expiry: %s%s, %s; %s", when,
                 history.expiry.timestamp > kSelPreInitLimit ? " (BMC clock)" : "",
                 TimeoutActionName(SelExpiryAction(history.expiry)), ShutdownBeforeText(history.shutdownBefore));
    } else if (!facts.newestRead) {
        char cause[48];
        DescribeOutcome(facts.outcome, cause, sizeof(cause));
        snprintf(line, sizeof(line), "BMC last watchdog expiry: not known - its records could not be read: %s", cause);
    } else if (entries == 0) {
        snprintf(line, sizeof(line), "BMC last watchdog expiry: none");
    } else if (facts.reachedStart) {
        snprintf(line, sizeof(line), "BMC last watchdog expiry: none in its %u record%s", entries, entries == 1 ? "" : "s");
    } else {
        snprintf(line, sizeof(line), "BMC last watchdog expiry: none in the last %u of its %u records", read, entries);
    }
    AddStatusLine(report, line);
}

void AddSelLines(const SelFacts &facts, StatusReport *report)
{
    if (!facts.attempted) return;
    char line[kStatusLineSize];
    if (!facts.read) {
        char unread[kStatusLineSize - 16];
        DescribeUnreadSel(facts, unread, sizeof(unread));
        snprintf(line, sizeof(line), "BMC log: %s", unread);
        AddStatusLine(report, line);
        return;
    }
    unsigned entries = facts.info.entries;
    if (entries == 0) {
        snprintf(line, sizeof(line), "BMC log: empty");
    } else {
        snprintf(line, sizeof(line), "BMC log: %u record%s%s", entries, entries == 1 ? "" : "s",
                 SelFull(facts.info) ? ", full: the BMC records no more events" : "");
    }
    AddStatusLine(report, line);
    AddExpiryLine(facts, report);
}
