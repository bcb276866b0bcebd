#include "command_line.h"

#include <stdio.h>

#include "configuration/service_configuration_rules.h"
#include "service_identity.h"

// The name the usage text shows, whatever the program file is called.
static const char kUsageProgramName[] = "zynwatch";

static char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

static bool SameWord(const char *text, const char *word)
{
    for (; *text != '\0' && *word != '\0'; ++text, ++word) {
        if (LowerAscii(*text) != *word) return false;
    }
    return *text == '\0' && *word == '\0';
}

// The number a word stands for, or -1 for an unknown word; words[n] stands for n.
static int WordNumber(const char *text, const char *const words[4])
{
    for (int number = 0; number < 4; ++number) {
        if (SameWord(text, words[number])) return number;
    }
    return -1;
}

static const char *const kTimeoutWords[4] = {"none", "hardreset", "poweroff", "powercycle"};
static const char *const kPretimeoutWords[4] = {"none", "smi", "nmi", "msgint"};
const uint8_t kUnknownTimeoutWordChoice = 3;
const uint32_t kDefaultDrillSeconds = 20;
const uint32_t kLargestDrillSeconds = 999999;  // a longer number reads as this, out of range all the same

static bool IsNumber(const char *text)
{
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
    }
    return true;
}

static uint32_t NumberOf(const char *text)
{
    uint32_t number = 0;
    for (; *text != '\0' && number <= kLargestDrillSeconds; ++text) {
        number = number * 10 + static_cast<uint32_t>(*text - '0');
    }
    return number > kLargestDrillSeconds ? kLargestDrillSeconds : number;
}

CommandOptions ParseServiceCommandLine(int argc, const char *const *argv)
{
    // An option that is not given keeps the value the install writes without options.
    CommandOptions options = {false, false, false, false, kInstallTimeoutAction, kInstallPreTimeoutAction, false,
                              nullptr, false, kDefaultDrillSeconds};
    for (int index = 1; index < argc; ++index) {
        const char *argument = argv[index];
        bool hasWord = index + 1 < argc;
        if (SameWord(argument, "-install")) {
            options.install = true;
        } else if (SameWord(argument, "-remove")) {
            options.remove = true;
        } else if (SameWord(argument, "-status")) {
            options.status = true;
        } else if (SameWord(argument, "-json")) {
            options.json = true;
        } else if (SameWord(argument, "-nagios")) {
            options.nagios = true;
        } else if (SameWord(argument, "-prometheus") && hasWord) {
            options.prometheusFile = argv[++index];
        } else if (SameWord(argument, "-drill")) {
            options.drill = true;
            if (hasWord && IsNumber(argv[index + 1])) options.drillSeconds = NumberOf(argv[++index]);
        } else if (SameWord(argument, "-timeout") && hasWord) {
            int number = WordNumber(argv[++index], kTimeoutWords);
            options.timeoutChoice = number < 0 ? kUnknownTimeoutWordChoice : static_cast<uint8_t>(number);
        } else if (SameWord(argument, "-pretimeout") && hasWord) {
            int number = WordNumber(argv[++index], kPretimeoutWords);
            if (number >= 0) options.pretimeoutChoice = static_cast<uint8_t>(number);
        }
    }
    return options;
}

void PrintUsage()
{
    printf("Useage:\n");
    printf("===== To install the service =====\n");
    printf("%s -install [ -timeout [none|hardreset|poweroff|powercycle] ]\n", kUsageProgramName);
    printf("                  [ -pretimeout [none|smi|nmi|msgint] ]\n\n");
    printf("===== To remove the service =====\n");
    printf("%s -remove \n\n", kUsageProgramName);
}
