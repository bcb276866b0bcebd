#include "health/health_rules.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

const HealthNumberRule kHealthCommandTimeoutRule = {kHealthCommandTimeoutValue, 1, 3600, 60};
const HealthNumberRule kHealthCheckIntervalRule = {kHealthCheckIntervalValue, 1, 3600, 10};
const HealthNumberRule kHealthGracePeriodRule = {kHealthGracePeriodValue, 30, 86400, 300};
const HealthNumberRule kHealthMinAvailableRule = {kHealthMinAvailableValue, 1, 16777216, 0};

static const char *const kServiceStateNames[8] = {"in state 0",  "stopped",          "start pending", "stop pending",
                                                  "running",     "continue pending", "pause pending", "paused"};

bool JudgeHealthNumber(const HealthNumberRule &rule, uint32_t type, uint32_t size, uint32_t number,
                       uint32_t *used, char *reason, size_t reasonSize)
{
    *used = rule.fallback;
    const char *instead = rule.fallback == 0 ? "the check is off" : "the default is used";
    if (type != kTypeDword || size != 4) {
        snprintf(reason, reasonSize, "it is not a REG_DWORD of 4 bytes; %s", instead);
        return false;
    }
    if (number < rule.lowest || number > rule.highest) {
        snprintf(reason, reasonSize, "%lu is outside %lu to %lu; %s", static_cast<unsigned long>(number),
                 static_cast<unsigned long>(rule.lowest), static_cast<unsigned long>(rule.highest), instead);
        return false;
    }
    *used = number;
    return true;
}

bool JudgeHealthTextType(uint32_t type, bool expandable, char *reason, size_t reasonSize)
{
    if (type == kTypeSz || (expandable && type == kTypeExpandSz)) return true;
    snprintf(reason, reasonSize, "its type is not %s", expandable ? "REG_SZ or REG_EXPAND_SZ" : "REG_SZ");
    return false;
}

// True when the word of length characters ends in one of the extensions CreateProcess runs.
static bool EndsInProgramExtension(const char *word, size_t length)
{
    static const char *const kExtensions[] = {".exe", ".com", ".bat", ".cmd"};
    if (length < 4) return false;
    for (const char *extension : kExtensions) {
        bool same = true;
        for (size_t i = 0; i < 4; ++i) same = same && tolower(static_cast<unsigned char>(word[length - 4 + i])) == extension[i];
        if (same) return true;
    }
    return false;
}

bool JudgeCommandQuoting(const char *commandLine, char *reason, size_t reasonSize)
{
    const char *word = commandLine + strspn(commandLine, " \t");
    size_t length = strcspn(word, " \t");
    if (*word == '"' || word[length] == '\0') return true;
    if (strcspn(word, "\\/:") >= length || EndsInProgramExtension(word, length)) return true;
    int shown = length < 60 ? static_cast<int>(length) : 60;
    snprintf(reason, reasonSize, "its program path is not quoted and holds a space: Windows would run %.*s.exe first",
             shown, word);
    return false;
}

void DescribeTooLong(size_t limit, char *reason, size_t reasonSize)
{
    snprintf(reason, reasonSize, "it is longer than %lu characters", static_cast<unsigned long>(limit));
}

bool SplitHealthServices(const char *data, size_t size, HealthSettings *settings, char *reason, size_t reasonSize)
{
    settings->serviceCount = 0;
    size_t position = 0;
    while (position < size && data[position] != '\0') {
        size_t length = strnlen(data + position, size - position);
        if (length >= kHealthServiceNameSize) {
            snprintf(reason, reasonSize, "it holds a name longer than %lu characters",
                     static_cast<unsigned long>(kHealthServiceNameSize - 1));
        } else if (settings->serviceCount == kHealthMaxServices) {
            snprintf(reason, reasonSize, "it holds more than %lu names", static_cast<unsigned long>(kHealthMaxServices));
        } else {
            memcpy(settings->services[settings->serviceCount], data + position, length);
            settings->services[settings->serviceCount++][length] = '\0';
            position += length + 1;
            continue;
        }
        settings->serviceCount = 0;
        return false;
    }
    return true;
}

bool JudgeLastWithheld(uint32_t type, uint32_t size, char *reason, size_t reasonSize)
{
    if (type == kTypeQword && size == 8) return true;
    snprintf(reason, reasonSize, "it is not a REG_QWORD of 8 bytes");
    return false;
}

size_t ListHealthChecks(const HealthSettings &settings, HealthCheck checks[kHealthMaxChecks])
{
    size_t count = 0;
    if (settings.command[0] != '\0') checks[count++] = {kCheckCommand, 0};
    if (settings.folder[0] != '\0') checks[count++] = {kCheckFolder, 0};
    for (uint32_t index = 0; index < settings.serviceCount && index < kHealthMaxServices; ++index) {
        checks[count++] = {kCheckService, static_cast<uint8_t>(index)};
    }
    if (settings.minAvailableMB != 0) checks[count++] = {kCheckMemory, 0};
    return count;
}

void HealthCheckLabel(const HealthSettings &settings, const HealthCheck &check, char *label, size_t size)
{
    switch (check.kind) {
    case kCheckCommand:
        snprintf(label, size, "%s", kHealthCommandValue);
        break;
    case kCheckFolder:
        snprintf(label, size, "%s", kHealthFolderValue);
        break;
    case kCheckService:
        snprintf(label, size, "%s %s", kHealthServicesValue, settings.services[check.service]);
        break;
    case kCheckMemory:
        snprintf(label, size, "%s", kHealthMinAvailableValue);
        break;
    }
}

void DescribeHealthCause(const HealthCause &cause, char *text, size_t size)
{
    unsigned long value = cause.value, limit = cause.limit;
    switch (cause.kind) {
    case kCauseExitCode:
        // NTSTATUS-like codes (a crash, an ended process) read better in hexadecimal.
        snprintf(text, size, value > 0xFFFF ? "exit code 0x%08lX" : "exit code %lu", value);
        break;
    case kCauseError:
        snprintf(text, size, "error %lu", value);
        break;
    case kCauseNoAnswer:
        snprintf(text, size, "no answer in %lu s", value);
        break;
    case kCauseServiceState:
        snprintf(text, size, "the service is %s", value < 8 ? kServiceStateNames[value] : "in an unknown state");
        break;
    case kCauseServiceMissing:
        snprintf(text, size, "the service is not installed");
        break;
    case kCauseMemory:
        snprintf(text, size, "%lu MB of commit available, %lu MB required", value, limit);
        break;
    default:
        snprintf(text, size, "passed");
        break;
    }
}

void DescribeRepair(bool configured, const HealthResult &repair, char *text, size_t size)
{
    if (!configured) {
        snprintf(text, size, "no RepairCommand is set");
        return;
    }
    char cause[64];
    DescribeHealthCause(repair.cause, cause, sizeof(cause));
    if (repair.cause.kind == kCauseError) {
        snprintf(text, size, "the RepairCommand could not run: %s", cause);
    } else if (repair.cause.kind == kCauseNoAnswer) {
        snprintf(text, size, "the RepairCommand gave %s and was ended", cause);
    } else {
        snprintf(text, size, "the RepairCommand ran and ended with %s", repair.passed ? "exit code 0" : cause);
    }
}

bool WithinADay(uint64_t last, uint64_t now)
{
    if (last == 0) return false;
    uint64_t apart = now > last ? now - last : last - now;
    return apart < kFileTimeDay;
}

void BeginHealthEpisodes(HealthEpisodes *episodes, size_t checkCount, uint32_t graceSeconds, bool repairConfigured,
                         uint64_t lastWithheld)
{
    memset(episodes, 0, sizeof(*episodes));
    episodes->checkCount = checkCount < kHealthMaxChecks ? checkCount : kHealthMaxChecks;
    episodes->graceMs = static_cast<uint64_t>(graceSeconds) * 1000;
    episodes->repairConfigured = repairConfigured;
    episodes->lastWithheld = lastWithheld;
}

static void AddNote(HealthRound *round, HealthNoteKind kind, size_t check, uint64_t failedSince)
{
    round->notes[round->noteCount++] = {kind, check, failedSince};
}

// One check's result: its state, and the entry its change is worth.
static void NoteResult(HealthCheckRecord *record, size_t index, const HealthResult &result, const HealthClock &now,
                       HealthRound *round)
{
    if (result.passed) {
        if (record->state == kCheckFailed && record->reported) AddNote(round, kNotePassed, index, record->sinceTime);
        if (record->state != kCheckPassed) {
            record->sinceTick = now.tickMs;
            record->sinceTime = now.fileTime;
        }
        record->state = kCheckPassed;
        record->everPassed = true;
        record->reported = false;
        record->cause = {};
        return;
    }
    if (record->state != kCheckFailed) {
        record->sinceTick = now.tickMs;
        record->sinceTime = now.fileTime;
    }
    record->state = kCheckFailed;
    record->cause = result.cause;
    if (!record->reported) AddNote(round, record->everPassed ? kNoteFailed : kNoteNeverPassed, index, 0);
    record->reported = true;
}

// The check acted upon that has failed the longest, or checkCount when none fails.
static size_t LongestFailing(const HealthEpisodes &episodes)
{
    size_t longest = episodes.checkCount;
    for (size_t index = 0; index < episodes.checkCount; ++index) {
        const HealthCheckRecord &record = episodes.checks[index];
        if (!record.everPassed || record.state != kCheckFailed) continue;
        if (longest == episodes.checkCount || record.sinceTick < episodes.checks[longest].sinceTick) longest = index;
    }
    return longest;
}

// Withholds, or refuses to when the last withholding is less than a day away.
static void Withhold(HealthEpisodes *episodes, const HealthClock &now, HealthRound *round)
{
    episodes->refused = WithinADay(episodes->lastWithheld, now.fileTime);
    if (episodes->refused) {
        round->action = kActRefuse;
        return;
    }
    round->action = kActWithhold;
    episodes->lastWithheld = now.fileTime;
    episodes->withheld = true;
    episodes->withheldSince = now.fileTime;
}

// After a mended repair the warning that says so stands for the passes of the checks acted upon.
static void DropPassesOf(const bool *wasActedUpon, HealthRound *round)
{
    size_t kept = 0;
    for (size_t index = 0; index < round->noteCount; ++index) {
        const HealthNote &note = round->notes[index];
        if (note.kind == kNotePassed && wasActedUpon[note.check]) continue;
        round->notes[kept++] = note;
    }
    round->noteCount = kept;
}

static void Act(HealthEpisodes *episodes, size_t check, HealthRound *round)
{
    episodes->acted = true;
    episodes->actedCheck = round->actedCheck = check;
    episodes->actedSince = round->actedSince = episodes->checks[check].sinceTime;
}

static void EndEpisode(HealthEpisodes *episodes, bool afterRepair, const bool *wasActedUpon, HealthRound *round)
{
    if (afterRepair) {
        round->action = kActMended;
        DropPassesOf(wasActedUpon, round);
    } else if (episodes->withheld) {
        round->action = kActResume;
        round->withheldSince = episodes->withheldSince;
        episodes->withheld = false;
    }
    episodes->acted = false;
    episodes->refused = false;
}

// The entry names a check that still fails: the one acted upon, if it does.
static void ActOnStillFailing(HealthEpisodes *episodes, size_t failing, HealthRound *round)
{
    if (episodes->checks[episodes->actedCheck].state != kCheckFailed) Act(episodes, failing, round);
}

void JudgeHealthRound(HealthEpisodes *episodes, const HealthResult *results, const HealthClock &now, bool afterRepair,
                      HealthRound *round)
{
    round->noteCount = 0;
    round->action = kActNone;
    round->actedCheck = episodes->actedCheck;
    round->actedSince = episodes->actedSince;
    round->withheldSince = 0;
    bool wasActedUpon[kHealthMaxChecks] = {};
    for (size_t index = 0; index < episodes->checkCount; ++index) {
        wasActedUpon[index] = episodes->checks[index].everPassed;
        NoteResult(&episodes->checks[index], index, results[index], now, round);
    }
    size_t failing = LongestFailing(*episodes);
    if (failing == episodes->checkCount) {
        EndEpisode(episodes, afterRepair, wasActedUpon, round);
        return;
    }
    if (afterRepair) {
        ActOnStillFailing(episodes, failing, round);
        Withhold(episodes, now, round);
        return;
    }
    if (episodes->refused && !WithinADay(episodes->lastWithheld, now.fileTime)) {
        ActOnStillFailing(episodes, failing, round);
        Withhold(episodes, now, round);
        return;
    }
    const HealthCheckRecord &record = episodes->checks[failing];
    if (episodes->acted || now.tickMs - record.sinceTick < episodes->graceMs) return;
    Act(episodes, failing, round);
    if (episodes->repairConfigured) {
        round->action = kActRepair;
    } else {
        Withhold(episodes, now, round);
    }
}

uint64_t NextHealthRoundTick(const HealthEpisodes &episodes, uint64_t roundStartTick, uint32_t intervalSeconds)
{
    uint64_t next = roundStartTick + static_cast<uint64_t>(intervalSeconds) * 1000;
    if (episodes.acted) return next;
    for (size_t index = 0; index < episodes.checkCount; ++index) {
        const HealthCheckRecord &record = episodes.checks[index];
        if (!record.everPassed || record.state != kCheckFailed) continue;
        uint64_t graceEnds = record.sinceTick + episodes.graceMs;
        if (graceEnds < next) next = graceEnds;
    }
    return next;
}
