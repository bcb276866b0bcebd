// The installer's option words with any command line: one mode or the usage screen, never quiet
// and silent together, and the usage screen for every word that is not an option.
#include "fuzz_input.h"
#include "option_parser.h"

static bool IsOption(const char *word)
{
    return strcasecmp(word, "-q") == 0 || strcasecmp(word, "-n") == 0 || strcasecmp(word, "-u") == 0 ||
           strcasecmp(word, "-h") == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzArguments arguments(bytes, size);
    uint32_t options = ParseOptionWords(arguments.Count(), arguments.Vector());
    const uint32_t known = kOptionInstall | kOptionQuiet | kOptionSilent | kOptionUninstall | kOptionDetect | kOptionUsage;
    FUZZ_CHECK((options & ~known) == 0);
    FUZZ_CHECK((options & (kOptionQuiet | kOptionSilent)) != (kOptionQuiet | kOptionSilent));
    int modes = !!(options & kOptionInstall) + !!(options & kOptionUninstall) + !!(options & kOptionDetect);
    FUZZ_CHECK((options & kOptionUsage) ? modes <= 1 : modes == 1);
    for (int i = 1; i < arguments.Count(); ++i) {
        if (!IsOption(arguments.Vector()[i])) FUZZ_CHECK(options & kOptionUsage);
    }
    return 0;
}
